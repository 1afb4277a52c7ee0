// A stand-in for the program in the instance-number tests: the real application object takes its number the
// way the program does, but in place of the dialog it prints "instance <n>" and waits to be ended. A refused
// start prints what its box shows ("box", icon, caption, text, button count, tab-separated) and answers it.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "app/CVeskUpdatorApp.h"

namespace {

const char* iconName(QMessageBox::Icon icon) {
    switch (icon) {
        case QMessageBox::Warning:
            return "warning";
        case QMessageBox::Critical:
            return "critical";
        case QMessageBox::Information:
            return "information";
        case QMessageBox::Question:
            return "question";
        default:
            return "none";
    }
}

}  // namespace

int main(int argc, char** argv) {
    velmora::app::CVeskUpdatorApp app(argc, argv);

    QTimer answerer;
    answerer.setInterval(10);
    QObject::connect(&answerer, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        std::printf("box\t%s\t%s\t%s\t%lld\n", iconName(box->icon()), qPrintable(box->windowTitle()),
                    qPrintable(box->text()), static_cast<long long>(box->buttons().size()));
        std::fflush(stdout);
        box->accept();
    });
    answerer.start();

    return app.run([](velmora::app::CVeskUpdatorApp& self) {
        std::printf("instance %d\n", self.instanceNumber());
        std::fflush(stdout);
        QApplication::exec();
    });
}
