// Types its second argument (UTF-8) on the display in DISPLAY through the X11 input sink, noting
// what it lends in the file named by its first argument, then runs until it is killed: the part
// of a helper that a test kills in mid-run.

#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "core/input/text_units.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/x11_input_sink.h"

int main(int argc, char** argv) {
    using namespace tamborix;
    if (argc != 3) return 2;
    QCoreApplication app(argc, argv);
    std::string error;
    auto conn = x11::XConnection::open("", error);
    if (!conn) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    QtMainLoop loop;
    x11::X11InputSink::Options options;
    options.spares.note = argv[1];
    x11::X11InputSink sink(*conn, loop, options);
    if (!sink.mayPost()) return 1;
    sink.text(textunits::toUtf16(argv[2]));
    return app.exec();
}
