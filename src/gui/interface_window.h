// The "CAN Interface Selection" window: the radio group "Interface" lists every interface type
// (the table's order) and shows the page of the chosen one with its settings. It edits the fields
// only; OK parses them into the application's interface record (can/interface_form.h), and the
// main window then has the next tick re-initialise the bus. Cancel leaves the record untouched.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <array>
#include <vector>

#include "app/application.h"
#include "can/interface_form.h"

namespace busprobe {

inline constexpr char kInterfaceWindowTitle[] = "CAN Interface Selection";
inline constexpr char kVectorNotLoadedText[] =
    "Sorry, the VECTOR XL DRIVER LIBRARY must be loaded\r\nto open the Vector Hardware Config Tool from "
    "here.\r\nMaybe you can find it in the system control - good luck !";
inline constexpr char kVectorToolFailedText[] =
    "Sorry, couldn't open the CAN hardware configuration tool.\r\nMaybe you can find it in the system "
    "control - good luck !";

class InterfaceWindow : public QDialog {
  Q_OBJECT

 public:
  explicit InterfaceWindow(Application& app, QWidget* parent = nullptr);

  // Fills every field from the application's interface record (done when the window is made).
  void FormShow();
  // Stores the fields into the record and closes the window with OK.
  void Btn_OkClick();
  // Opens the loaded Vector driver's hardware configuration tool, or says why it cannot.
  void Btn_VectorOpenControlPanelClick();
  void showHelp();

  // The entries of the radio group, in list order, and the page shown for each.
  int entryCount() const { return static_cast<int>(entries_.size()); }
  QAbstractButton* entry(int position) const { return entries_.at(static_cast<size_t>(position)); }
  int chosenEntry() const { return group_->checkedId(); }
  QString pageName(int position) const { return pageNames_.at(static_cast<size_t>(position)); }
  // The name of the page shown now.
  QString shownPage() const { return pageBox_->title(); }
  QWidget* shownPageWidget() const { return pages_->currentWidget(); }

 private:
  QWidget* pageFor(int type, const QString& caption);
  QWidget* infoPage();
  QWidget* cvUdpPage();
  QWidget* ntcanPage();
  QWidget* pcanLightPage(bool usb);
  QWidget* canApiPage();
  QWidget* kvaserPage();
  QWidget* vectorPage();
  QWidget* socketCanPage();
  QWidget* virtualBusPage();
  QWidget* qtCanBusPage();
  void showPage(int position);
  void fillQtCanBusInterfaces(int bus);
  InterfaceForm readFields() const;

  Application& app_;
  bool filling_ = false;
  QButtonGroup* group_;
  std::vector<QAbstractButton*> entries_;
  std::vector<QString> pageNames_;
  QGroupBox* pageBox_;
  QStackedWidget* pages_;
  QCheckBox* debugging_;
  QLineEdit* netNumber_ = nullptr;
  QCheckBox* startPcc_ = nullptr;
  QCheckBox* stopPcc_ = nullptr;
  QLineEdit* ioAddress_ = nullptr;
  QLineEdit* interrupt_ = nullptr;
  QLineEdit* netNames_ = nullptr;
  QLineEdit* accessMask_ = nullptr;
  QLineEdit* channelName_ = nullptr;
  QCheckBox* client_ = nullptr;
  QCheckBox* server_ = nullptr;
  QLineEdit* remoteIp_ = nullptr;
  QLineEdit* remotePort_ = nullptr;
  QLineEdit* localPort_ = nullptr;
  QComboBox* localIp_ = nullptr;
  QLineEdit* socketCanIf1_ = nullptr;
  QLineEdit* socketCanIf2_ = nullptr;
  // Editable: the plugins Qt offers are listed where the program was built with its CAN bus
  // module, and any name can be typed.
  std::array<QComboBox*, 2> qtPlugin_{};
  std::array<QComboBox*, 2> qtInterface_{};
};

}  // namespace busprobe
