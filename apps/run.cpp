// Start-up: parse the command line, make the port (nothing is touched until the
// operator's first action), build the window and run the event loop.
#include "apps/run.h"

#include "apps/command_line.h"
#include "commands/program.h"
#include "ports/factory.h"
#include "ports/trace_port.h"
#include "ui/layout.h"
#include "ui/window.h"

#include <QApplication>
#include <QEvent>

#include <cstdio>
#include <memory>

#ifndef PX_VERSION
#define PX_VERSION "0"
#endif

namespace apps {
namespace {

// Quits the event loop after the window's first paint.
class QuitWhenPainted final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return false;
    }
};

}  // namespace

int run(const commands::Descriptor& descriptor, int argc, char** argv) {
    const std::string name(descriptor.executable);
    CommandLine line;
    std::unique_ptr<bus::Port> port;
    try {
        line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (line.help) {
            std::fputs(usage(name).c_str(), stdout);
            return 0;
        }
        if (line.version) {
            std::printf("%s %s\n", name.c_str(), PX_VERSION);
            return 0;
        }
        port = ports::openPort(line.port);
        if (!line.trace.empty()) port = std::make_unique<ports::TracePort>(std::move(port), line.trace);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        return 2;
    } catch (const ports::ConfigError& e) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: internal error: %s\n", name.c_str(), e.what());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationName(QString::fromStdString(name));
    auto program = descriptor.make(*port);
    if (descriptor.load != nullptr) descriptor.load(*program);
    ui::Window window(descriptor, *program);
    window.setExitAction([] { QApplication::quit(); });
    QuitWhenPainted quitWhenPainted;
    if (line.exitWhenShown) window.installEventFilter(&quitWhenPainted);
    window.showCentred();
    return app.exec();
}

}  // namespace apps
