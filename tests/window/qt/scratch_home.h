#pragma once

#include <QByteArray>
#include <QtGlobal>

#include "support/temp_dir.h"

namespace kavoni::testing {

// Points HOME and the XDG folders at a scratch folder so the dialog's starting folder can be
// predicted; restores them afterwards.
class ScratchHome {
 public:
  explicit ScratchHome(const TempDir& dir)
      : home_(qgetenv("HOME")), config_(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("HOME", dir.path().c_str());
    qputenv("XDG_CONFIG_HOME", (dir.path() / ".config").c_str());
  }
  ~ScratchHome() {
    qputenv("HOME", home_);
    config_.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", config_);
  }
  ScratchHome(const ScratchHome&) = delete;
  ScratchHome& operator=(const ScratchHome&) = delete;

 private:
  QByteArray home_;
  QByteArray config_;
};

}  // namespace kavoni::testing
