// An event code as the log shows it: "事件=" with the code and its text.
#pragma once

#include <ostream>

struct olva_event_formator {
    int event;
};

std::ostream& operator<<(std::ostream& out, const olva_event_formator& event);
