#include "olva_manager/event_formatter.h"

namespace {

struct EventText {
    int event;
    const char* text;
};

constexpr EventText kEventTexts[] = {
    {1, " : 设备插入"},  {2, " : 设备拔出"},  {3, " : 警报通知"},   {10, " : 线路复位"},
    {11, " : 线路振铃"}, {12, " : 线路摘机"}, {13, " : 线路悬空"},  {15, " : 振铃取消"},
    {20, " : 实时语音"}, {21, " : 来电号码"}, {22, " : DTMF按下"}, {23, " : DTMF释放"},
};
constexpr const char* kUnknownEvent = " : 未定义的事件码";

}  // namespace

std::ostream& operator<<(std::ostream& out, const olva_event_formator& event)
{
    const char* text = kUnknownEvent;
    for (const EventText& row : kEventTexts)
        if (row.event == event.event)
            text = row.text;
    return out << "事件=" << event.event << text;
}
