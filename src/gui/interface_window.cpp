#include "gui/interface_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/gui_user_interface.h"

#ifdef BUSPROBE_GUI_HAVE_SERIALBUS
#include <QCanBus>
#endif

namespace busprobe {

namespace {

QString ToQt(const std::string& text) {
  return CoreTextToQt(text);
}

std::string FromQt(const QString& text) {
  return text.toStdString();
}

QLabel* InfoText(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QLineEdit* Field(const char* name, int maxLength = 0) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(name));
  if (maxLength > 0) edit->setMaxLength(maxLength);
  return edit;
}

QCheckBox* Check(const char* name, const char* caption) {
  auto* box = new QCheckBox(QString::fromLatin1(caption));
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

// A page: its fields on top, the explaining text below them.
QWidget* Page(QLayout* fields, const QString& text) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  if (fields) layout->addLayout(fields);
  layout->addWidget(InfoText(text));
  layout->addStretch(1);
  return page;
}

// The page names of the types the window knows; a type registered by another library that is
// not among them gets a page named by its caption.
QString PageName(int type) {
  switch (type) {
    case kIntfNone:
      return QStringLiteral("Info");
    case kIntfCvUdp:
      return QStringLiteral("CAN via UDP");
    case kIntfNtcan:
      return QStringLiteral("NTCAN");
    case kIntfPcanDongle:
      return QStringLiteral("PCAN Light");
    case kIntfPcanUsb:
      return QStringLiteral("PCAN USB");
    case kIntfCanApi2:
      return QStringLiteral("PCAN API");
    case kIntfKvaser:
      return QStringLiteral("Kvaser");
    case kIntfVector:
      return QStringLiteral("Vector");
    case kIntfSocketCan:
      return QStringLiteral("SocketCAN");
    case kIntfVirtual:
      return QStringLiteral("Virtual bus");
    case kIntfQtCanBus:
      return QStringLiteral("Qt CAN bus");
    default:
      return QString();
  }
}

}  // namespace

InterfaceWindow::InterfaceWindow(Application& app, QWidget* parent)
    : QDialog(parent),
      app_(app),
      group_(new QButtonGroup(this)),
      pageBox_(new QGroupBox),
      pages_(new QStackedWidget),
      debugging_(Check("Chk_Debugging", "activate debugging")) {
  setObjectName(QStringLiteral("CanIntfForm1"));
  setWindowTitle(QString::fromLatin1(kInterfaceWindowTitle));
  setModal(true);

  auto* interfaceBox = new QGroupBox(QStringLiteral("Interface"));
  interfaceBox->setObjectName(QStringLiteral("RG_Interface"));
  auto* radios = new QVBoxLayout(interfaceBox);
  const std::vector<CanInterfaceTypeRow>& rows = app_.ucan().interfaceTypes().types();
  for (size_t i = 0; i < rows.size(); ++i) {
    auto* radio = new QRadioButton(ToQt(rows[i].caption));
    radio->setObjectName(QStringLiteral("RB_Interface%1").arg(i));
    group_->addButton(radio, static_cast<int>(i));
    radios->addWidget(radio);
    entries_.push_back(radio);
    const QString name = PageName(rows[i].type);
    pageNames_.push_back(name.isEmpty() ? ToQt(rows[i].caption) : name);
    pages_->addWidget(pageFor(rows[i].type, ToQt(rows[i].caption)));
  }
  radios->addStretch(1);
  connect(group_, &QButtonGroup::idToggled, this, [this](int position, bool checked) {
    if (checked && !filling_) showPage(position);
  });

  pageBox_->setObjectName(QStringLiteral("PC_Interface"));
  auto* pageLayout = new QVBoxLayout(pageBox_);
  pageLayout->addWidget(pages_);

  auto* left = new QVBoxLayout;
  left->addWidget(interfaceBox, 1);
  left->addWidget(debugging_);
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addWidget(pageBox_, 1);

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("Btn_Ok"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("Btn_Cancel"));
  QPushButton* help = buttons->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
  help->setObjectName(QStringLiteral("Btn_Help"));
  // The box's own roles would close the window before the fields are parsed.
  connect(ok, &QPushButton::clicked, this, &InterfaceWindow::Btn_OkClick);
  connect(cancel, &QPushButton::clicked, this, &InterfaceWindow::reject);
  connect(help, &QPushButton::clicked, this, &InterfaceWindow::showHelp);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(buttons);
  resize(760, 470);

  FormShow();
}

QWidget* InterfaceWindow::pageFor(int type, const QString& caption) {
  switch (type) {
    case kIntfNone:
      return infoPage();
    case kIntfCvUdp:
      return cvUdpPage();
    case kIntfNtcan:
      return ntcanPage();
    case kIntfPcanDongle:
      return pcanLightPage(false);
    case kIntfPcanUsb:
      return pcanLightPage(true);
    case kIntfCanApi2:
      return canApiPage();
    case kIntfKvaser:
      return kvaserPage();
    case kIntfVector:
      return vectorPage();
    case kIntfSocketCan:
      return socketCanPage();
    case kIntfVirtual:
      return virtualBusPage();
    case kIntfQtCanBus:
      return qtCanBusPage();
    default:
      return Page(nullptr, QStringLiteral("\"%1\" has no settings of its own in this window.").arg(caption));
  }
}

QWidget* InterfaceWindow::infoPage() {
  return Page(
      nullptr,
      QStringLiteral(
          "Choose the interface that carries the CAN bus on the left; its settings are shown here.\n\n"
          "\"none\" opens no bus at all: the program runs its scripts and windows without sending or "
          "receiving.\n\n"
          "On Linux most CAN adapters are reached through the kernel's SocketCAN drivers (PEAK, "
          "Kvaser, IXXAT, ESD and many USB adapters): choose \"Linux SocketCAN\". \"Virtual bus "
          "(built-in)\" needs no hardware at all. The vendor drivers in the list load the vendor's own "
          "library; several of them exist for Windows only.\n\n"
          "The new settings take effect when you press OK: the interface is then opened again."));
}

QWidget* InterfaceWindow::cvUdpPage() {
  client_ = Check("Chk_CvUdpClient", "CLIENT");
  server_ = Check("Chk_CvUdpServer", "SERVER");
  remoteIp_ = Field("Ed_RemoteIP", static_cast<int>(kFormMaxIpLength));
  remotePort_ = Field("Ed_RemotePort");
  localPort_ = Field("Ed_LocalPort");
  localIp_ = new QComboBox;
  localIp_->setObjectName(QStringLiteral("CB_LocalIP"));
  localIp_->setEditable(true);
  localIp_->lineEdit()->setMaxLength(static_cast<int>(kFormMaxIpLength));
  auto* roles = new QHBoxLayout;
  roles->addWidget(client_);
  roles->addWidget(server_);
  roles->addStretch(1);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Role :"), roles);
  form->addRow(QStringLiteral("Remote IP or host name :"), remoteIp_);
  form->addRow(QStringLiteral("Remote server port :"), remotePort_);
  form->addRow(QStringLiteral("Local IP :"), localIp_);
  form->addRow(QStringLiteral("Local server port :"), localPort_);
  return Page(
      form,
      QStringLiteral("CAN frames travel in UDP datagrams between instances of this program (or other "
                     "CAN-via-UDP peers).\n"
                     "CLIENT connects to the server at the remote IP and port; SERVER waits for clients on "
                     "the local port and lets them use this program's CAN bus. Both at once relay between "
                     "two networks.\n"
                     "The local IP list holds the addresses of this host; 0.0.0.0 listens on all of them."));
}

QWidget* InterfaceWindow::ntcanPage() {
  netNumber_ = Field("Ed_NTCanNetNumber");
  startPcc_ = Check("Chk_StartPCC", "Start PCC on init");
  stopPcc_ = Check("Chk_StopPCC", "Stop PCC on exit");
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Net number :"), netNumber_);
  form->addRow(QString(), startPcc_);
  form->addRow(QString(), stopPcc_);
  return Page(
      form, QStringLiteral("ESD's NTCAN driver library (libntcan.so on Linux, installed with ESD's driver "
                           "package). The net number selects the CAN port; bus 2 uses the next net.\n"
                           "\"Start PCC\" and \"Stop PCC\" run the helper commands \"cpcc start\" and \"cpcc "
                           "stop\" for ESD's PC-card adapters."));
}

QWidget* InterfaceWindow::pcanLightPage(bool usb) {
  if (usb) {
    return Page(nullptr, QStringLiteral(
                             "PEAK's PCAN-Light library for the PCAN-USB adapter exists for Windows only and "
                             "cannot be loaded on Linux.\n\n"
                             "On Linux the PCAN-USB adapter works through the kernel driver peak_usb: choose "
                             "\"Linux SocketCAN\", or \"Qt CAN bus\" with the plugin \"socketcan\" (or "
                             "\"peakcan\" with PEAK's Linux library)."));
  }
  ioAddress_ = Field("Ed_IOAddress");
  interrupt_ = Field("Ed_Interrupt");
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("I/O address :"), ioAddress_);
  form->addRow(QStringLiteral("Interrupt :"), interrupt_);
  return Page(
      form,
      QStringLiteral("PEAK's PCAN-Light library for the parallel-port dongle exists for Windows only and "
                     "cannot be loaded on Linux.\n"
                     "The I/O address of the parallel port (hexadecimal with \"$\" or \"0x\", 0x200..0xFFF; "
                     "else 0x378) and its interrupt (3..15; else 7)."));
}

QWidget* InterfaceWindow::canApiPage() {
  netNames_ = Field("Ed_NetNames", static_cast<int>(kFormMaxNameLength));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Net names :"), netNames_);
  return Page(form, QStringLiteral(
                        "PEAK's CAN-API 2 driver connects to nets configured in PEAK's tools; give the net "
                        "names separated by commas (the first for CAN1, the second for CAN2).\n"
                        "This library exists for Windows only. On Linux use \"Linux SocketCAN\" with PEAK's "
                        "kernel driver."));
}

QWidget* InterfaceWindow::kvaserPage() {
  return Page(nullptr,
              QStringLiteral("Kvaser's CANLIB (libcanlib.so on Linux, from Kvaser's Linux driver package). "
                             "CAN1 and CAN2 are the first two channels CANLIB reports.\n\n"
                             "Kvaser adapters also work with the kernel's SocketCAN drivers: see \"Linux "
                             "SocketCAN\"."));
}

QWidget* InterfaceWindow::vectorPage() {
  accessMask_ = Field("Ed_VectorAccessMask");
  channelName_ = Field("Ed_VectorChannelName", static_cast<int>(kFormMaxNameLength));
  auto* tool = new QPushButton(QStringLiteral("Open Vector Hardware Config tool"));
  tool->setObjectName(QStringLiteral("Btn_VectorOpenControlPanel"));
  connect(tool, &QPushButton::clicked, this, &InterfaceWindow::Btn_VectorOpenControlPanelClick);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Access mask :"), accessMask_);
  form->addRow(QStringLiteral("Channel name :"), channelName_);
  form->addRow(QString(), tool);
  return Page(form, QStringLiteral(
                        "Vector's XL driver library. The access mask selects the channels (bit 0 = first "
                        "channel); the channel name is the application channel of Vector's configuration.\n"
                        "The XL library exists for Windows only: on Linux this interface cannot be loaded."));
}

QWidget* InterfaceWindow::socketCanPage() {
  socketCanIf1_ = Field("Ed_SocketCanIf1", static_cast<int>(kFormMaxNameLength));
  socketCanIf2_ = Field("Ed_SocketCanIf2", static_cast<int>(kFormMaxNameLength));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("CAN1 interface :"), socketCanIf1_);
  form->addRow(QStringLiteral("CAN2 interface :"), socketCanIf2_);
  return Page(form, QStringLiteral(
                        "The Linux kernel's own CAN network interfaces (can0, can1, vcan0, slcan0 ...). An "
                        "empty name leaves that bus closed.\n"
                        "The bit rate is set by the system, not by this program, e.g.\n"
                        "    ip link set can0 up type can bitrate 500000\n"
                        "    ip link set can0 up type can bitrate 500000 dbitrate 2000000 fd on\n"
                        "A virtual interface for tests: ip link add dev vcan0 type vcan; ip link set vcan0 "
                        "up."));
}

QWidget* InterfaceWindow::virtualBusPage() {
  return Page(
      nullptr,
      QStringLiteral("A CAN bus inside this program, without any hardware. Every frame sent is also "
                     "received, as another node on the bus would see it, so the built-in SDO server and "
                     "LSS slave answer this program's own SDO client and LSS master.\n\n"
                     "Useful to try scripts and windows, and for training."));
}

QWidget* InterfaceWindow::qtCanBusPage() {
  auto* form = new QFormLayout;
  for (int bus = 0; bus < 2; ++bus) {
    auto* plugin = new QComboBox;
    plugin->setObjectName(QStringLiteral("CB_QtCanBusPlugin%1").arg(bus + 1));
    plugin->setEditable(true);
    plugin->lineEdit()->setMaxLength(static_cast<int>(kFormMaxNameLength));
    auto* device = new QComboBox;
    device->setObjectName(QStringLiteral("CB_QtCanBusInterface%1").arg(bus + 1));
    device->setEditable(true);
    device->lineEdit()->setMaxLength(static_cast<int>(kFormMaxNameLength));
#ifdef BUSPROBE_GUI_HAVE_SERIALBUS
    plugin->addItems(QCanBus::instance()->plugins());
#endif
    connect(plugin, &QComboBox::currentTextChanged, this, [this, bus] {
      if (!filling_) fillQtCanBusInterfaces(bus);
    });
    qtPlugin_[static_cast<size_t>(bus)] = plugin;
    qtInterface_[static_cast<size_t>(bus)] = device;
    form->addRow(QStringLiteral("CAN%1 plugin :").arg(bus + 1), plugin);
    form->addRow(QStringLiteral("CAN%1 interface :").arg(bus + 1), device);
  }
  return Page(form,
              QStringLiteral("Any plugin of Qt's CAN bus module: \"socketcan\", \"peakcan\" (PEAK's Linux "
                             "library), \"tinycan\", \"virtualcan\" (a bus shared over TCP on this host) and "
                             "others. Choose the plugin and the interface name for each bus; an empty plugin "
                             "leaves that bus closed."));
}

void InterfaceWindow::fillQtCanBusInterfaces(int bus) {
  QComboBox* device = qtInterface_[static_cast<size_t>(bus)];
  const QString typed = device->currentText();
  device->clear();
#ifdef BUSPROBE_GUI_HAVE_SERIALBUS
  const QString plugin = qtPlugin_[static_cast<size_t>(bus)]->currentText().trimmed();
  if (QCanBus::instance()->plugins().contains(plugin)) {
    for (const QCanBusDeviceInfo& info : QCanBus::instance()->availableDevices(plugin))
      device->addItem(info.name());
  }
#endif
  device->setEditText(typed);
}

void InterfaceWindow::FormShow() {
  filling_ = true;
  const InterfaceForm f =
      FillInterfaceForm(app_.interfaceSettings(), app_.ucan().interfaceTypes(), LocalIpv4Addresses());
  if (f.position >= 0) {
    group_->button(f.position)->setChecked(true);
  } else if (QAbstractButton* checked = group_->checkedButton()) {
    // A type this build does not list: no entry is chosen.
    group_->setExclusive(false);
    checked->setChecked(false);
    group_->setExclusive(true);
  }
  showPage(f.position >= 0 ? f.position : 0);
  debugging_->setChecked(f.debugging);
  netNumber_->setText(ToQt(f.netNumber));
  startPcc_->setChecked(f.startPcc);
  stopPcc_->setChecked(f.stopPcc);
  ioAddress_->setText(ToQt(f.ioAddress));
  interrupt_->setText(ToQt(f.interrupt));
  netNames_->setText(ToQt(f.netNames));
  accessMask_->setText(ToQt(f.accessMask));
  channelName_->setText(ToQt(f.channelName));
  client_->setChecked(f.client);
  server_->setChecked(f.server);
  remoteIp_->setText(ToQt(f.remoteIp));
  remotePort_->setText(ToQt(f.remotePort));
  localPort_->setText(ToQt(f.localPort));
  localIp_->clear();
  for (const std::string& ip : f.localIpChoices) localIp_->addItem(ToQt(ip));
  localIp_->setCurrentIndex(f.localIpIndex);
  localIp_->setEditText(ToQt(f.localIp));
  socketCanIf1_->setText(ToQt(f.socketCanIf1));
  socketCanIf2_->setText(ToQt(f.socketCanIf2));
  const std::string* plugins[] = {&f.qtCanBusPlugin1, &f.qtCanBusPlugin2};
  const std::string* devices[] = {&f.qtCanBusInterface1, &f.qtCanBusInterface2};
  for (size_t bus = 0; bus < 2; ++bus) {
    qtPlugin_[bus]->setEditText(ToQt(*plugins[bus]));
    qtInterface_[bus]->setEditText(ToQt(*devices[bus]));
    fillQtCanBusInterfaces(static_cast<int>(bus));
  }
  filling_ = false;
}

InterfaceForm InterfaceWindow::readFields() const {
  InterfaceForm f;
  f.position = group_->checkedId();
  f.debugging = debugging_->isChecked();
  f.netNumber = FromQt(netNumber_->text());
  f.startPcc = startPcc_->isChecked();
  f.stopPcc = stopPcc_->isChecked();
  f.ioAddress = FromQt(ioAddress_->text());
  f.interrupt = FromQt(interrupt_->text());
  f.netNames = FromQt(netNames_->text());
  f.accessMask = FromQt(accessMask_->text());
  f.channelName = FromQt(channelName_->text());
  f.client = client_->isChecked();
  f.server = server_->isChecked();
  f.remoteIp = FromQt(remoteIp_->text());
  f.remotePort = FromQt(remotePort_->text());
  f.localPort = FromQt(localPort_->text());
  f.localIp = FromQt(localIp_->currentText());
  f.socketCanIf1 = FromQt(socketCanIf1_->text());
  f.socketCanIf2 = FromQt(socketCanIf2_->text());
  f.qtCanBusPlugin1 = FromQt(qtPlugin_[0]->currentText());
  f.qtCanBusInterface1 = FromQt(qtInterface_[0]->currentText());
  f.qtCanBusPlugin2 = FromQt(qtPlugin_[1]->currentText());
  f.qtCanBusInterface2 = FromQt(qtInterface_[1]->currentText());
  return f;
}

void InterfaceWindow::Btn_OkClick() {
  StoreInterfaceForm(readFields(), app_.ucan().interfaceTypes(), app_.interfaceSettings());
  accept();
}

void InterfaceWindow::Btn_VectorOpenControlPanelClick() {
  Ucan& ucan = app_.ucan();
  if (!ucan.ready() || ucan.interfaceType() != kIntfVector) {
    app_.ui().showMessageBox(kInterfaceWindowTitle, kVectorNotLoadedText);
    return;
  }
  if (!ucan.popupHardwareConfig()) app_.ui().showMessageBox(kInterfaceWindowTitle, kVectorToolFailedText);
}

void InterfaceWindow::showHelp() {
  app_.ui().showMessageBox(
      kInterfaceWindowTitle,
      "Choose the interface on the left and fill in its page; OK stores the settings and opens the "
      "interface again at once, Cancel changes nothing.\r\n\r\n"
      "Numbers typed wrongly fall back to their defaults: the net number and the Vector access mask to 1, "
      "an I/O address outside $0200..$0FFF to $0378, an interrupt outside 3..15 to 7, the remote port to "
      "55556 and the local port to 55557.\r\n"
      "\"activate debugging\" copies the CAN driver's trace lines to the system's debug output.\r\n"
      "The bit rates of CAN1 and CAN2 are set under Settings, \"CAN settings (for user)\".");
}

void InterfaceWindow::showPage(int position) {
  if (position < 0 || position >= pages_->count()) return;
  pages_->setCurrentIndex(position);
  pageBox_->setTitle(pageNames_[static_cast<size_t>(position)]);
}

}  // namespace busprobe
