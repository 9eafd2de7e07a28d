// The box's recording operations: each goes to the line of the given id.
#include "olva_device/olva_device.h"

#include "base/logger.h"

int OlvaDevice::olva_record_file(unsigned long line, const char* path, int coder)
{
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%s get line(%d) failed", static_cast<int>(line));
        return -1;
    }
    return found->line_record_file(path, coder);
}

int OlvaDevice::olva_record_stream(unsigned long line, int coder)
{
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed");
        return -1;
    }
    return found->line_record_stream(coder);
}

int OlvaDevice::olva_stop_record(unsigned long line)
{
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed");
        return 0;
    }
    found->line_stop_record();
    return 0;
}
