// WebSocket command texts from browsers through the service's command
// dispatcher, over the fake device library (no box is driven and no file is
// touched: the library's calls are only recorded). Two line slots are bound
// first, so that commands naming handle 257 or 258 reach a line.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cavrel_olva.h"
#include "support/fake_olva.h"
#include "ukit/olva_mgr.h"

namespace {

// A browser that drops what it is sent.
class FuzzConnection final : public web::WsConnection {
public:
    FuzzConnection() : WsConnection("127.0.0.1:40000") {}
    void send_text(std::string text) override { sent_ += text.size(); }
    void send_close(web::CloseCode, std::string reason) override { sent_ += reason.size(); }

private:
    std::size_t sent_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (const unsigned long handle : {0x101ul, 0x102ul})
        uWebMgr.handle_event(handle, OLVA_EVENT_PLUG_IN, 0, 0, 0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto connection = std::make_shared<FuzzConnection>();
    // The service's connections reach it through its server's interface.
    web::WebEvents& service = uWebMgr;
    service.on_ws_frame(connection,
                        std::string_view(reinterpret_cast<const char*>(data), size));
    olva_fake::reset();
    return 0;
}
