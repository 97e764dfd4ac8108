// The main window: the Designer form of the provider panel, a thin view over
// ProviderPanel. It forwards the operator's clicks to the panel and shows
// what the panel sets through WidgetControls. Escape, the close box and
// "Cancel" end the program; the window menu of the desktop is the window
// manager's, so "About Provider..." sits in the window's own context menu
// (right click, the Menu key or Shift+F10).
#pragma once

#include <QDialog>
#include <memory>

#include "testprovider/provider_panel.h"
#include "testprovider/widget_controls.h"

namespace Ui {
class ProviderDialog;
}

namespace rigbench {

class ProviderDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ProviderDialog(const QString& programName, QWidget* parent = nullptr);
  ~ProviderDialog() override;

  ProviderPanel& panel() { return *panel_; }
  WidgetControls& controls() { return *controls_; }
  // The context menu's entries, for the window's menu key and for tests.
  QMenu* windowMenu() { return windowMenu_; }

 public slots:
  void reject() override;
  void showAbout();
  void showHelp();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void connectControls();

  std::unique_ptr<Ui::ProviderDialog> ui_;
  QString programName_;
  std::unique_ptr<WidgetControls> controls_;
  std::unique_ptr<ProviderPanel> panel_;
  QMenu* windowMenu_ = nullptr;
};

}  // namespace rigbench
