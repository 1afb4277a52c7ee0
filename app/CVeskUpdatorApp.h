#pragma once
// The application object: takes the first free instance number of this login, runs the one dialog modally and
// ends. A start beyond the last number is refused with a message and opens no window.

#include <QApplication>
#include <functional>
#include <memory>
#include <string>

#include "app/CInstanceLock.h"

namespace velmora::app {

class CVeskUpdatorApp : public QApplication {
    Q_OBJECT

  public:
    // Creates and runs the program's dialog modally for this copy; returns when the dialog has closed.
    using DialogRunner = std::function<void(CVeskUpdatorApp& app)>;

    // lockSuffix keeps another program's copies apart from the updater's: the demo counts its own.
    CVeskUpdatorApp(int& argc, char** argv, std::string lockSuffix = {});
    // Gives up the instance lock.
    ~CVeskUpdatorApp() override;

    // Takes an instance number, then runs the dialog; the process's exit status.
    int run(const DialogRunner& runDialog);

    // 1 to texts::kMaxInstances once run() has taken one; 0 before, and after a refused start.
    int instanceNumber() const { return instanceNumber_; }

    // The caption of the refusal box: the executable's base name.
    static QString programName();

  private:
    const std::string lockSuffix_;
    std::unique_ptr<CInstanceLock> instanceLock_;
    int instanceNumber_ = 0;
};

}  // namespace velmora::app
