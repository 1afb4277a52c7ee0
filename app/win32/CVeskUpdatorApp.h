#pragma once
// The application object on Windows: initialises the common controls, takes the first free instance number of
// this log-on (a named mutex), runs the one dialog modally and ends. A start beyond the last number is
// refused with a message box and opens no window.

#include <functional>
#include <memory>
#include <string>

#include "app/InstanceNumber.h"

namespace velmora::app {

class CVeskUpdatorApp {
  public:
    // Creates and runs the program's dialog modally for this copy; returns when the dialog has closed.
    using DialogRunner = std::function<void(CVeskUpdatorApp& app)>;

    // lockSuffix keeps another program's copies apart from the updater's: the demo counts its own.
    explicit CVeskUpdatorApp(std::string lockSuffix = {});
    // Gives up the instance number.
    ~CVeskUpdatorApp();
    CVeskUpdatorApp(const CVeskUpdatorApp&) = delete;
    CVeskUpdatorApp& operator=(const CVeskUpdatorApp&) = delete;

    // Takes an instance number, then runs the dialog; the process's exit status.
    int run(const DialogRunner& runDialog);

    // 1 to texts::kMaxInstances once run() has taken one; 0 before, and after a refused start.
    int instanceNumber() const { return instanceNumber_; }

    // The caption of the refusal box: the executable's base name, UTF-8.
    static std::string programName();

  private:
    const std::string lockSuffix_;
    std::unique_ptr<CInstanceLock> instanceLock_;
    int instanceNumber_ = 0;
};

}  // namespace velmora::app
