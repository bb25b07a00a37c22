// The application's side of a blocking SDO client transfer: the client channel of its engine, and
// the wait that keeps the program's receive path running until the transfer ends.
#pragma once

#include "app/application.h"
#include "canopen/sdo_blocking_transfer.h"

namespace busprobe {

class Application::SdoWaitPort final : public SdoClientPort {
 public:
  explicit SdoWaitPort(Application& app) : app_(app) {}

  SdoChannel& client() override { return app_.canopen_->sdo().client(); }
  bool InitTransfer() override { return app_.canopen_->sdo().InitTransfer(); }
  // Pumps received frames (up to 500 a round) through the whole road of a frame, lets the windows
  // run unless this wait is nested in another, and gives the engine its timeout step, until the
  // client is no longer busy. The window restarts whenever the readout file grew by another 256
  // bytes. 0 when the client ended, -16 when the window ran out, -17 while starting or closing.
  int SdoWaitForCompletion(int timeoutMs) override;
  bool& sdoAccessBusy() override { return app_.canopen_->sdo().sdoAccessBusy; }

  // True while a wait runs: the tick leaves the receive pump and the script to it.
  bool waiting() const { return depth_ > 0; }

 private:
  Application& app_;
  int depth_ = 0;
};

}  // namespace busprobe
