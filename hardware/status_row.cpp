#include "hardware/status_row.h"

#include <cstdarg>
#include <mutex>
#include <string>

#include "platform/terminal.h"
#include "shell/console/f_graph.h"

void statusRow(int x, int y, int colour, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);

    std::lock_guard<std::recursive_mutex> guard(platform::Terminal::instance().lock());
    const int oldX = gf.whereX();
    const int oldY = gf.whereY();
    const unsigned short oldColour = gf.getColor();
    if (colour >= 0) gf.setColor(static_cast<unsigned short>(colour));
    gf.printAt(x, y, "%s", text);
    gf.setColor(oldColour);
    gf.gotoxy(oldX, oldY);
}

void makePrintable(char* text, int count) {
    for (int i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte < 32 || byte >= 127) text[i] = '.';
    }
}
