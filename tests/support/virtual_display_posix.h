#pragma once
// An X server of the test's own (Xvfb), for the tests whose Windows program must show windows
// that a stand-in player answers. It picks a free display number itself and is stopped when the
// object goes.

#include <string>

class VirtualDisplay {
  public:
    // Throws std::runtime_error when Xvfb is missing or does not come up within the limit.
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // The value for DISPLAY, for example ":3".
    const std::string& Name() const { return name_; }

  private:
    void Stop();

    int pid_ = -1;
    std::string name_;
};
