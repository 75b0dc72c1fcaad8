// Start-up: parse the command line, make the port (nothing is touched until the
// operator's first action), build the window and run the event loop.
#include "ui/run.h"
#include "ui/qt/run.h"

#include "frontend/window_start.h"
#include "commands/descriptor.h"
#include "ui/chooser_services.h"
#include "ui/qt/chooser.h"
#include "ui/qt/window.h"

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ui {
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

// Qt reports a display it cannot open with a fatal message from inside
// QApplication's constructor, and aborts. While the constructor runs, Qt's
// messages are held back here; the fatal one becomes one line of ours and exit
// status 1. Qt's message handler is process-wide, so this is too, and only for
// the length of that constructor.
struct StartupMessages {
    std::string program;
    std::string key;  // pxctl --program
    std::vector<std::pair<QtMsgType, QString>> held;
    QtMessageHandler previous = nullptr;
};
StartupMessages* gStartup = nullptr;

void holdStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        gStartup->held.emplace_back(type, message);
        return;
    }
    const QString reason =
        (gStartup->held.empty() ? message.section(QLatin1Char('\n'), 0, 0) : gStartup->held.front().second).trimmed();
    std::fprintf(stderr,
                 "%s: cannot open a window: no display available (%s); for work without a window use pxctl "
                 "--program %s (see pxctl --help)\n",
                 gStartup->program.c_str(), reason.toLocal8Bit().constData(), gStartup->key.c_str());
    (void)context;
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

void stopOnSignals(Window& window, const platform::SignalWatch& watch, commands::Program& program) {
    auto* notifier = new QSocketNotifier(watch.fd(), QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [notifier, &program] {
        char drained[16];
        while (::read(static_cast<int>(notifier->socket()), drained, sizeof drained) > 0) {
        }
        notifier->setEnabled(false);
        program.cmdExit_Click();
    });
    // The notifier waits its turn behind input already queued; the check does not.
    window.setStopCheck([&watch] { return watch.pending() != 0; });
}

// Qt's application, made once the command line has been read: with Qt's own
// options, and a display that cannot be opened said in one line of ours.
class Application {
public:
    Application(const commands::Descriptor& descriptor, const char* argv0, const std::vector<std::string>& toolkit)
        : arguments_{argv0} {
        arguments_.insert(arguments_.end(), toolkit.begin(), toolkit.end());
        for (auto& argument : arguments_) argv_.push_back(argument.data());
        argv_.push_back(nullptr);
        argc_ = static_cast<int>(arguments_.size());
        StartupMessages startup{std::string(descriptor.executable), std::string(descriptor.key), {}, nullptr};
        gStartup = &startup;
        startup.previous = qInstallMessageHandler(holdStartupMessage);
        app_ = std::make_unique<QApplication>(argc_, argv_.data());
        qInstallMessageHandler(startup.previous);
        gStartup = nullptr;
        for (const auto& [type, message] : startup.held) {
            if (type == QtWarningMsg || type == QtCriticalMsg) qWarning("%s", qPrintable(message));
        }
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setApplicationName(QString::fromStdString(std::string(descriptor.executable)));
    }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
    int argc_ = 0;
    std::unique_ptr<QApplication> app_;
};

// --choose-port: the chooser first; false where it was closed without a choice.
bool choosePort(const commands::Descriptor& descriptor, std::unique_ptr<Application>& application, const char* argv0,
                const std::vector<std::string>& arguments) {
    const auto line = frontend::chooserRequest(arguments);
    if (!line) return true;
    application = std::make_unique<Application>(descriptor, argv0, line->toolkit);
    ChooserDialog chooser(chooserServices(descriptor, line->address));
    chooser.exec();
    return chooser.chosen().has_value();
}

int run(const commands::Descriptor& descriptor, int argc, char** argv) {
    const frontend::Say say = [](const std::string& text, bool error) { std::fputs(text.c_str(), error ? stderr : stdout); };
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::unique_ptr<Application> application;
    if (!choosePort(descriptor, application, argv[0], arguments)) return 0;
    auto started = frontend::startWindowProgram(descriptor, arguments, say, true);
    if (const int* status = std::get_if<int>(&started)) return *status;
    frontend::WindowStart& start = std::get<frontend::WindowStart>(started);
    const frontend::CommandLine& line = start.line;
    if (!application) application = std::make_unique<Application>(descriptor, argv[0], line.toolkit);

    // A signal closes the window as E&xit does, once the frame under way is whole.
    const platform::SignalWatch interrupts;
    commands::Program& program = *start.session.program;
    Window window(descriptor, program);
    frontend::showSessionIn(window, start);
    window.setExitAction([] { QApplication::quit(); });
    window.setChooser([&window, &descriptor, address = line.address] {
        ChooserDialog chooser(chooserServices(descriptor, address), &window);
        chooser.exec();
    });
    stopOnSignals(window, interrupts, program);
    QuitWhenPainted quitWhenPainted;
    if (line.exitWhenShown) window.installEventFilter(&quitWhenPainted);
    window.showCentred();
    const int status = QApplication::exec();
    return frontend::endWindowProgram(descriptor, start, say, status, interrupts.pending());
}

}  // namespace ui
