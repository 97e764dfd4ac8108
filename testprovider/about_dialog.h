// "About Provider": the program's icon, its version and an OK button.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace rigbench {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
  ~AboutDialog() override;

 private:
  std::unique_ptr<Ui::AboutDialog> ui_;
};

}  // namespace rigbench
