#include "umockdev_usb_box.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

namespace olva_test {
namespace {

constexpr const char* kDeviceNode = "/dev/bus/usb/001/002";

// The device as udev and sysfs show it. "descriptors" holds what the kernel
// caches: the device descriptor (04d9:2832, strings 1, 2 and 3, one
// configuration), then configuration 1 with interface 0 (HID: HID descriptor,
// interrupt IN 0x81 and OUT 0x02 of 8 bytes) and interface 1 (audio
// streaming: alternate setting 0 without endpoints, 1 with an isochronous
// IN 0x83 of 100 bytes).
constexpr const char* kDeviceRecord =
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\n"
    "N: bus/usb/001/002\n"
    "E: SUBSYSTEM=usb\n"
    "E: DEVTYPE=usb_device\n"
    "E: DRIVER=usb\n"
    "E: DEVNAME=/dev/bus/usb/001/002\n"
    "E: BUSNUM=001\n"
    "E: DEVNUM=002\n"
    "E: PRODUCT=4d9/2832/100\n"
    "A: busnum=1\\n\n"
    "A: devnum=2\\n\n"
    "A: idVendor=04d9\\n\n"
    "A: idProduct=2832\\n\n"
    "A: bConfigurationValue=1\\n\n"
    "A: speed=12\\n\n"
    "H: descriptors="
    "1201000200000040d9043228000101020301"
    "090242000201008032"
    "090400000203000000" "092111010001222200" "07058103080001" "07050203080001"
    "090401000001020000" "090401010101020000" "07058305640001"
    "\n";

constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr std::size_t kSetupLength = 8;

usbdevfs_urb* urb_of(UMockdevIoctlData* data)
{
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

}  // namespace

UmockdevUsbBox::~UmockdevUsbBox()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_in_.clear();
        reapable_.clear();
    }
    if (handler_) {
        g_signal_handlers_disconnect_by_data(handler_, this);
        g_object_unref(handler_);
    }
    if (testbed_)
        g_object_unref(testbed_);  // removes the bed's directory
}

std::string UmockdevUsbBox::start()
{
    // umockdev tells whether its preload library is in place by looking at
    // /sys, which only a test bed redirects: so the bed comes first.
    testbed_ = umockdev_testbed_new();
    if (!umockdev_in_mock_environment())
        return "not running under umockdev-wrapper";
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UmockdevUsbBox::on_ioctl), this);
    // The handler goes first, so that the node is emulated from the moment
    // it appears.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, kDeviceNode, handler_, &error)) {
        std::string reason = std::string("umockdev cannot attach the usbfs handler: ") +
                             (error ? error->message : "unknown error");
        g_clear_error(&error);
        return reason;
    }
    if (!umockdev_testbed_add_from_string(testbed_, kDeviceRecord, &error)) {
        std::string reason = std::string("umockdev cannot add the device: ") +
                             (error ? error->message : "unknown error");
        g_clear_error(&error);
        return reason;
    }
    return {};
}

void UmockdevUsbBox::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = false;
    unplug_after_submit_ = false;
    stalls_armed_ = 0;
    driver_.clear();
    control_reply_.clear();
    empty_reaps_ = 0;
    reports_.clear();
    on_the_bus_.clear();
    waiting_in_.clear();
    reapable_.clear();
    control_requests_.clear();
    interrupt_outs_.clear();
    claimed_.clear();
    released_.clear();
    cleared_halts_.clear();
    unexpected_.clear();
}

void UmockdevUsbBox::bindDriver(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    driver_ = name;
}

void UmockdevUsbBox::setControlReply(std::vector<std::uint8_t> reply)
{
    std::lock_guard<std::mutex> lock(mutex_);
    control_reply_ = std::move(reply);
}

void UmockdevUsbBox::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

std::vector<std::vector<std::uint8_t>> UmockdevUsbBox::respond(
    const std::vector<std::uint8_t>& report)
{
    if (!responder_)
        return {};
    return responder_(report);
}

void UmockdevUsbBox::releaseAnswers()
{
    const auto now = std::chrono::steady_clock::now();
    while (!unplugged_ && !on_the_bus_.empty() && on_the_bus_.front().pass_ended &&
           on_the_bus_.front().due <= now) {
        queueInterruptIn(std::move(on_the_bus_.front().report));
        on_the_bus_.pop_front();
    }
}

bool UmockdevUsbBox::endInterruptInAndUnplug(int status, std::vector<std::uint8_t> report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_in_.empty())
        return false;
    Urb urb = std::move(waiting_in_.front());
    waiting_in_.pop_front();
    finish(std::move(urb), status, status == 0 ? report.data() : nullptr, report.size());
    dropOffBus();
    return true;
}

void UmockdevUsbBox::stallNext(int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stalls_armed_ = count;
}

void UmockdevUsbBox::unplug()
{
    std::lock_guard<std::mutex> lock(mutex_);
    dropOffBus();
}

void UmockdevUsbBox::unplugAfterNextSubmit()
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplug_after_submit_ = true;
}

void UmockdevUsbBox::sendInterruptIn(std::vector<std::uint8_t> report)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queueInterruptIn(std::move(report));
}

void UmockdevUsbBox::queueInterruptIn(std::vector<std::uint8_t> report)
{
    if (waiting_in_.empty()) {
        reports_.push_back(std::move(report));
        return;
    }
    Urb urb = std::move(waiting_in_.front());
    waiting_in_.pop_front();
    finish(std::move(urb), 0, report.data(), report.size());
}

std::size_t UmockdevUsbBox::waitingInterruptIn() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_in_.size();
}

bool UmockdevUsbBox::settled() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_.empty() && on_the_bus_.empty() && reapable_.empty();
}

gboolean UmockdevUsbBox::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    auto* box = static_cast<UmockdevUsbBox*>(self);
    std::lock_guard<std::mutex> lock(box->mutex_);
    // libusb polls the node without end, so every ioctl is a moment of the bus.
    box->releaseAnswers();
    box->handle(client);
    return TRUE;
}

void UmockdevUsbBox::handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
    case USBDEVFS_SUBMITURB: submit(client, arg); return;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: reap(client, arg); return;
    case USBDEVFS_DISCARDURB: discard(client, arg); return;
    case USBDEVFS_GETDRIVER: getDriver(client, arg); return;
    case USBDEVFS_IOCTL: driverIoctl(client, arg); return;
    case USBDEVFS_CLAIMINTERFACE: recordNumber(client, arg, &claimed_); return;
    case USBDEVFS_RELEASEINTERFACE: recordNumber(client, arg, &released_); return;
    case USBDEVFS_CLEAR_HALT: recordNumber(client, arg, &cleared_halts_); return;
    case USBDEVFS_GET_CAPABILITIES: {
        Data caps(umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr));
        if (!caps)
            break;
        std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    default:
        unexpected_.push_back(request);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, EFAULT);
}

void UmockdevUsbBox::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (unplugged_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    Urb urb;
    urb.urb.reset(umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr));
    if (urb.urb) {
        const int length = urb_of(urb.urb.get())->buffer_length;
        if (length > 0)
            urb.buffer.reset(umockdev_ioctl_data_resolve(
                urb.urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(length),
                nullptr));
    }
    if (!urb.urb || !urb.buffer) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    if (unplug_after_submit_) {
        unplug_after_submit_ = false;
        dropOffBus();
        finish(std::move(urb), -ESHUTDOWN, nullptr, 0);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    const usbdevfs_urb* raw = urb_of(urb.urb.get());
    const unsigned char type = raw->type;
    const unsigned char endpoint = raw->endpoint;
    if (type == USBDEVFS_URB_TYPE_CONTROL) {
        answerControl(std::move(urb));
    } else if (type == USBDEVFS_URB_TYPE_INTERRUPT && !(endpoint & USB_DIR_IN)) {
        const UMockdevIoctlData* buffer = urb.buffer.get();
        const std::vector<std::uint8_t> report(buffer->data, buffer->data + buffer->data_len);
        interrupt_outs_.push_back({endpoint, report, std::chrono::steady_clock::now()});
        if (stalls_armed_ > 0) {
            --stalls_armed_;
            finish(std::move(urb), -EPIPE, nullptr, 0);
        } else {
            urb.answers = respond(report);
            finish(std::move(urb), 0, nullptr, static_cast<std::size_t>(buffer->data_len));
        }
    } else if (type == USBDEVFS_URB_TYPE_INTERRUPT) {
        if (stalls_armed_ > 0) {
            --stalls_armed_;
            finish(std::move(urb), -EPIPE, nullptr, 0);
        } else if (!reports_.empty()) {
            const std::vector<std::uint8_t> report = std::move(reports_.front());
            reports_.pop_front();
            finish(std::move(urb), 0, report.data(), report.size());
        } else {
            waiting_in_.push_back(std::move(urb));
        }
    } else {
        // The box has no bulk endpoint and the tests stream no audio.
        unexpected_.push_back(USBDEVFS_SUBMITURB);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

// Control URBs carry the 8 setup bytes, then the data stage.
void UmockdevUsbBox::answerControl(Urb urb)
{
    const UMockdevIoctlData* buffer = urb.buffer.get();
    ControlRequest request;
    const std::size_t have = static_cast<std::size_t>(buffer->data_len);
    std::memcpy(request.setup.data(), buffer->data, std::min(have, kSetupLength));
    const std::size_t w_length =
        std::min<std::size_t>(request.setup[6] | (request.setup[7] << 8),
                              have > kSetupLength ? have - kSetupLength : 0);
    const bool in = request.setup[0] & USB_DIR_IN;
    if (!in)
        request.data.assign(buffer->data + kSetupLength, buffer->data + kSetupLength + w_length);
    control_requests_.push_back(std::move(request));

    if (stalls_armed_ > 0) {
        --stalls_armed_;
        finish(std::move(urb), -EPIPE, nullptr, 0);
        return;
    }
    if (!in) {
        // A SET_REPORT's data is the report, its id first (a report id 0 is
        // not sent).
        urb.answers = respond(control_requests_.back().data);
        finish(std::move(urb), 0, nullptr, w_length);
        return;
    }
    const std::size_t n = std::min(w_length, control_reply_.size());
    std::copy_n(control_reply_.begin(), n, urb.buffer->data + kSetupLength);
    finish(std::move(urb), 0, nullptr, n);
}

// Ends a URB with the kernel's status; data, when given, is what the device
// sent (an interrupt IN report). length is the actual length either way.
void UmockdevUsbBox::finish(Urb urb, int status, const std::uint8_t* data, std::size_t length)
{
    usbdevfs_urb* raw = urb_of(urb.urb.get());
    if (data) {
        length = std::min(length, static_cast<std::size_t>(urb.buffer->data_len));
        std::copy_n(data, length, urb.buffer->data);
    }
    raw->status = status;
    raw->actual_length = status == 0 ? static_cast<int>(length) : 0;
    reapable_.push_back(std::move(urb));
}

void UmockdevUsbBox::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    if (reapable_.empty()) {
        ++empty_reaps_;
        for (Answer& answer : on_the_bus_)
            answer.pass_ended = true;
        umockdev_ioctl_client_complete(client, -1, unplugged_ ? ENODEV : EAGAIN);
        return;
    }
    Data slot(umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr));
    if (!slot || !umockdev_ioctl_data_set_ptr(slot.get(), 0, reapable_.front().urb.get())) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    // The request has ended for the host: its answers take the bus.
    const auto due = std::chrono::steady_clock::now() + kBusDelay;
    for (std::vector<std::uint8_t>& answer : reapable_.front().answers)
        on_the_bus_.push_back({due, std::move(answer)});
    reapable_.pop_front();
}

// The argument is the client's address of the URB itself.
void UmockdevUsbBox::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min(sizeof address, static_cast<std::size_t>(arg->data_len)));
    for (auto it = waiting_in_.begin(); it != waiting_in_.end(); ++it) {
        if (it->urb->client_addr != address)
            continue;
        Urb urb = std::move(*it);
        waiting_in_.erase(it);
        finish(std::move(urb), -ENOENT, nullptr, 0);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    // Ended already, or never submitted: the kernel has nothing to discard.
    umockdev_ioctl_client_complete(client, -1, unplugged_ ? ENODEV : EINVAL);
}

void UmockdevUsbBox::getDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    Data query(umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr));
    if (!query) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    auto* getdriver = reinterpret_cast<usbdevfs_getdriver*>(query->data);
    if (unplugged_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else if (getdriver->interface != 0 || driver_.empty()) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);
    } else {
        std::strncpy(getdriver->driver, driver_.c_str(), sizeof getdriver->driver - 1);
        umockdev_ioctl_client_complete(client, 0, 0);
    }
}

// USBDEVFS_IOCTL forwards a request to the interface's driver; only
// USBDEVFS_DISCONNECT (unbind the kernel driver) is asked for.
void UmockdevUsbBox::driverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    Data command(umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr));
    if (!command) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    const auto* ioctl = reinterpret_cast<const usbdevfs_ioctl*>(command->data);
    if (unplugged_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else if (ioctl->ioctl_code != static_cast<int>(USBDEVFS_DISCONNECT)) {
        unexpected_.push_back(USBDEVFS_IOCTL);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    } else if (ioctl->ifno != 0 || driver_.empty()) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);
    } else {
        driver_.clear();
        umockdev_ioctl_client_complete(client, 0, 0);
    }
}

void UmockdevUsbBox::recordNumber(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                                  std::vector<unsigned int>* record)
{
    Data number(umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr));
    if (!number) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    if (unplugged_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    unsigned int value = 0;
    std::memcpy(&value, number->data, sizeof value);
    record->push_back(value);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void UmockdevUsbBox::dropOffBus()
{
    unplugged_ = true;
    on_the_bus_.clear();
    while (!waiting_in_.empty()) {
        Urb urb = std::move(waiting_in_.front());
        waiting_in_.pop_front();
        finish(std::move(urb), -ESHUTDOWN, nullptr, 0);
    }
}

}  // namespace olva_test
