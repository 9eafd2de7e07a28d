// The device manager: construction, open and close with its two threads,
// the timer tick and the event path.
#include "olva_manager/olva_manager.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <system_error>

#include "base/logger.h"
#include "model/model_traits.h"
#include "olva_manager/event_formatter.h"

namespace {

constexpr const char* kModule = "olva ";
constexpr int kMaxThreadWorkMode = 2;

std::atomic<bool> g_manual_drive{false};

}  // namespace

OlvaManager* g_pOlvaMgr = nullptr;

OlvaManager::CUsbBoxDevice::~CUsbBoxDevice()
{
    // Every box thread ends while the event path still stands.
    shutdown();
}

void OlvaManager::CUsbBoxDevice::set_owner(OlvaManager* owner, int slot_id)
{
    slot_id_ = slot_id;
    owner_.store(owner);
}

void OlvaManager::CUsbBoxDevice::fire_event(unsigned long line, int event, unsigned long p1,
                                            unsigned long p2, unsigned long p3, unsigned long p4)
{
    OlvaManager* owner = owner_.load();
    const long index = device_index();
    // A closed box has no handle to raise an event under.
    if (!owner || index == -1)
        return;
    const unsigned long handle = line | (static_cast<unsigned long>(index) << 8);
    try {
        owner->fire_event(handle, event, p1, p2, p3, p4);
    } catch (...) {
        std::cout << box_tag() << "  fire_event( " << olva_event_formator{event}
                  << ", ...) except!!!\n\n";
        throw;
    }
}

std::set<int> OlvaManager::CUsbBoxDevice::sound_cards_in_use() const
{
    OlvaManager* owner = owner_.load();
    return owner ? owner->sound_cards_except(slot_id_) : std::set<int>{};
}

OlvaManager::OlvaManager()
{
    logger(3, kModule, "", "%s++  %s", __func__, "OlvaManager");
    box1_.set_owner(this, 1);
    box2_.set_owner(this, 2);
}

OlvaManager::~OlvaManager()
{
    stop_threads();
    logger(3, kModule, "", "%s--", "OlvaManager");
}

void OlvaManager::use_manual_drive(bool manual)
{
    g_manual_drive.store(manual);
}

bool OlvaManager::threads_running() const
{
    return search_thread_.joinable() || timer_thread_.joinable();
}

long OlvaManager::olva_open(olva_event_callback callback)
{
    logger(4, kModule, "", "  Manager open++");
    callback_.store(callback);
    if (work_mode_ <= kMaxThreadWorkMode && !g_manual_drive.load() && !threads_running()) {
        stop_.reset();
        try {
            search_thread_ = std::thread(&OlvaManager::handle_thread_search, this);
            timer_thread_ = std::thread(&OlvaManager::handle_thread_simulative_timer, this);
        } catch (const std::system_error& error) {
            logger(1, kModule, "", "  Manager cannot start its threads: %s", error.what());
            stop_threads();
            throw;
        }
    }
    logger(4, kModule, "", "  Manager open--");
    return 0;
}

void OlvaManager::stop_threads()
{
    stop_.request();
    for (std::thread* thread : {&search_thread_, &timer_thread_})
        if (thread->joinable())
            thread->join();
}

void OlvaManager::olva_close(int mode)
{
    logger(3, kModule, "", "%s++  %s", __func__, "");
    logger(4, kModule, "", "  Manager close++");
    // A box open in progress stops waiting for its sound card once closing.
    box1_.olva_closeEx();
    box2_.olva_closeEx();
    stop_threads();
    callback_.store(nullptr);
    box1_.olva_close(mode);
    box2_.olva_close(mode);
    logger(3, kModule, "", "%s--", __func__);
}

void OlvaManager::fire_event(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                             unsigned long p3, unsigned long p4)
{
    if (olva_event_callback callback = callback_.load())
        callback(handle, event, p1, p2, p3, p4);
}

std::set<int> OlvaManager::sound_cards_except(int slot_id) const
{
    std::set<int> cards;
    for (const CUsbBoxDevice* box : {&box1_, &box2_}) {
        if (box->slot_id() == slot_id || box->device_index() == -1)
            continue;
        if (const int card = box->sound_card(); card >= 0)
            cards.insert(card);
    }
    return cards;
}

OlvaManager::TimerTick OlvaManager::timer_tick()
{
    TimerTick tick;
    CUsbBoxDevice* boxes[] = {&box1_, &box2_};
    timer_ms_ += kTimerPeriodMs;
    if (timer_ms_ >= kLineStepMs) {
        timer_ms_ = 0;
        for (unsigned i = 0; i < 2; ++i) {
            // A box whose status reports drive its line timer needs no tick.
            if (boxes[i]->device_index() != -1 &&
                model_traits(boxes[i]->model()).clock != LineClock::kStatusReports) {
                boxes[i]->handle_timer(kLineStepMs);
                tick.line_steps |= 1u << i;
            }
        }
    }
    for (unsigned i = 0; i < 2; ++i) {
        if (boxes[i]->device_index() != -1 && model_traits(boxes[i]->model()).gsm) {
            boxes[i]->Tz2701_write_hid_cmd_timer(kTimerPeriodMs);
            tick.gsm_steps |= 1u << i;
        }
    }
    return tick;
}

template <class Step>
void OlvaManager::run_every(const char* routine, const char* failed, int period_ms, Step step)
{
    logger(3, kModule, "", "%s++  %s", routine, "");
    do {
        // A failed pass is logged; the next one comes at its time.
        try {
            step();
        } catch (const std::exception& error) {
            logger(1, kModule, "", failed, routine, error.what());
        } catch (...) {
            logger(1, kModule, "", failed, routine, "unknown");
        }
    } while (!stop_.wait_for(std::chrono::milliseconds(period_ms)));
    logger(4, kModule, "", "%s  bThreadrun:%d", routine, 0);
}

void OlvaManager::handle_thread_search()
{
    run_every("handle_thread_search", "%s find  olva device  except", kSearchPeriodMs,
              [this] { search_pass(); });
}

void OlvaManager::handle_thread_simulative_timer()
{
    run_every("handle_thread_simulative_timer", "%s except: %s", kTimerPeriodMs,
              [this] { timer_tick(); });
}
