#include "testprovider/provider_dialog.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShortcut>

#include "testprovider/about_dialog.h"
#include "testprovider/application_icon.h"
#include "testprovider/dialog_units.h"
#include "testprovider/help_document.h"
#include "ui_provider_dialog.h"

namespace rigbench {

ProviderDialog::ProviderDialog(const QString& programName, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ProviderDialog>()), programName_(programName) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(applicationIcon());
  DialogUnits::forForm(*this).apply(*this);
  // The registration id takes digits only.
  ui_->edit1004->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));

  controls_ = std::make_unique<WidgetControls>(*this);
  panel_ = std::make_unique<ProviderPanel>(*controls_, programName_);

  windowMenu_ = new QMenu(this);
  windowMenu_->addSeparator();
  windowMenu_->addAction(tr("&About Provider..."), this, &ProviderDialog::showAbout);
  // The Menu key opens the context menu by itself; Shift+F10 is its other
  // usual key. F1 is the desktop's key for help.
  new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this,
                [this] { windowMenu_->popup(mapToGlobal(rect().center())); });
  new QShortcut(QKeySequence::HelpContents, this, this, &ProviderDialog::showHelp);

  connectControls();
  panel_->initialise();

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

ProviderDialog::~ProviderDialog() = default;

void ProviderDialog::connectControls() {
  ProviderPanel* panel = panel_.get();
  connect(ui_->button1023, &QPushButton::clicked, panel, [panel] { panel->connectToServer(); });
  connect(ui_->button1005, &QPushButton::clicked, panel, [panel] { panel->registerOrDeregister(); });
  connect(ui_->button1007, &QPushButton::clicked, panel, &ProviderPanel::sendAnswer);
  connect(ui_->buttonCancel, &QPushButton::clicked, this, &ProviderDialog::reject);
  connect(ui_->button1098, &QPushButton::clicked, this, &ProviderDialog::showHelp);
  connect(ui_->button1089, &QPushButton::clicked, panel, &ProviderPanel::refreshInfos);
  connect(ui_->button1090, &QPushButton::clicked, panel, &ProviderPanel::refreshRequests);
  connect(ui_->button1093, &QPushButton::clicked, panel, &ProviderPanel::resetInfos);
  connect(ui_->button1094, &QPushButton::clicked, panel, &ProviderPanel::resetRequests);

  const QCheckBox* parameterChecks[] = {ui_->check1011, ui_->check1014, ui_->check1015};
  for (int index = 0; index < 3; ++index) {
    connect(parameterChecks[index], &QCheckBox::clicked, panel, [panel, index] { panel->returnParameterClicked(index); });
  }
  connect(ui_->check1077, &QCheckBox::clicked, panel, &ProviderPanel::toggleClicked);
  connect(ui_->check1016, &QCheckBox::clicked, panel, &ProviderPanel::automaticClicked);
  connect(ui_->check1095, &QCheckBox::clicked, panel, &ProviderPanel::echoClicked);
  connect(ui_->check1069, &QCheckBox::clicked, panel, &ProviderPanel::dontShowClicked);
  connect(ui_->check1097, &QCheckBox::clicked, panel, &ProviderPanel::logToFileClicked);
  connect(ui_->combo1081, &QComboBox::textActivated, panel, &ProviderPanel::specialFeatureChosen);
}

void ProviderDialog::reject() {
  panel_->end();
  QDialog::reject();
}

void ProviderDialog::contextMenuEvent(QContextMenuEvent* event) { windowMenu_->popup(event->globalPos()); }

void ProviderDialog::showAbout() {
  AboutDialog about(this);
  about.exec();
}

void ProviderDialog::showHelp() {
  const QString path = findHelpDocument();
  if (openHelpDocument(path)) return;
  QMessageBox box(QMessageBox::NoIcon, programName_,
                  path.isEmpty() ? tr("The help document %1 is not installed.").arg(QString::fromLatin1(kHelpFileName))
                                 : tr("No program to show %1 was found.").arg(path),
                  QMessageBox::Ok, this);
  box.exec();
}

}  // namespace rigbench
