#pragma once

#include <QString>
#include <QWidget>
#include <array>

#include "sprite/command.h"
#include "sprite/rows.h"

class QCheckBox;
class QFileDialog;
class QLineEdit;
class QPushButton;

namespace kavoni {

// The designer window: 64 pixel check boxes, a name box and its button. It holds
// the sprite being drawn and supplies the Make Sprite command with everything it reads or shows.
class Kavoni final : public QWidget, public SpriteUi {
  Q_OBJECT

 public:
  explicit Kavoni(QWidget* parent = nullptr);
  ~Kavoni() override;

  bool CellTicked(int index) override;
  bool RunSaveDialog() override;
  std::filesystem::path DialogFileName() override;
  std::string NameText() override;
  void ShowMessageBox(const MessageBoxRequest& box) override;

  // The save dialog, or nullptr before the first press creates it.
  QFileDialog* saveDialog() const { return cd_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The controls, placed by the layout within `client_area`: the window itself, or the area
  // below the title strip where the window draws its own.
  void BuildControls(QWidget& client_area);
  void ChainTabOrder();
  QFileDialog* CreateSaveDialog();

  QLineEdit* nme_ = nullptr;
  std::array<QCheckBox*, kCellCount> check1_{};
  QPushButton* command1_ = nullptr;
  // Made on the first press rather than at start-up: it is by far the costliest control, and
  // many sessions draw for a while before saving.
  QFileDialog* cd_ = nullptr;
  QString chosen_file_;
};

}  // namespace kavoni
