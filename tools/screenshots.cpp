// Draws both windows on the simulated board after a few operator actions and
// saves them as PNG files: screenshots OUTPUT_DIRECTORY.
#include "commands/descriptor.h"
#include "commands/program.h"
#include "sim/board.h"
#include "view/layout.h"
#include "ui/qt/window.h"

#include <QApplication>
#include <QPixmap>
#include <QScrollBar>

#include <cstdio>

namespace {

bool save(ui::Window& window, const QString& path) {
    window.showCentred();
    QApplication::processEvents();
    return window.grab().save(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_DIRECTORY\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QString dir = QString::fromLocal8Bit(argv[1]);

    sim::Board boardA;
    commands::ProgramA a(boardA);
    ui::Window windowA(commands::kDescriptorA, a);
    a.Form_Load();
    // As an operator would: code 200 on channel 1, then channel 2 to Mid Scale.
    static_cast<QScrollBar*>(windowA.widget("vsbInputCode1"))->setValue(200);
    windowA.dispatch([&] { a.cmdCh2_Click(); });
    windowA.dispatch([&] { a.cmdMS_Click(); });

    sim::Board boardB;
    commands::ProgramB b(boardB);
    ui::Window windowB(commands::kDescriptorB, b);
    static_cast<QScrollBar*>(windowB.widget("vsbInputCode2"))->setValue(200);
    windowB.dispatch([&] { b.cmdCh1_Click(); });
    windowB.dispatch([&] { b.cmdFS_Click(); });
    windowB.dispatch([&] { b.cmdRead_Click(); });

    const bool ok = save(windowA, dir + "/px7700_02_reva.png") && save(windowB, dir + "/px7702_reva.png");
    if (!ok) std::fprintf(stderr, "screenshots: cannot write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
