#include "ui/MainWindow.h"

#include "core/Controls.h"
#include "ui/Artwork.h"
#include "ui/Binding.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrova {

namespace {

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QCheckBox* Check(const char* name, const QString& caption, CheckBox& control) {
    auto* box = Named(new QCheckBox(caption), name);
    Bind(box, control);
    return box;
}

QPushButton* Push(const char* name, Button& control) {
    auto* button = Named(new QPushButton, name);
    Bind(button, control);
    return button;
}

QLabel* Caption(const char* name, Label& control) {
    auto* label = Named(new QLabel, name);
    Bind(label, control);
    return label;
}

// A label that shows a value: selectable, so that it can be copied.
QLabel* Value(const char* name, Label& control) {
    QLabel* label = Caption(name, control);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A panel of the settings area with a single page: a tab control whose one tab has no
// caption, so that every panel looks alike. Returns the page.
QWidget* SinglePage(QTabWidget*& panel, const char* name, TabControl& control) {
    panel = Named(new QTabWidget, name);
    auto* page = new QWidget;
    panel->addTab(page, QString());
    panel->tabBar()->hide();
    Bind(panel, control);
    return page;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* row = new QHBoxLayout;
    for (QWidget* w : widgets)
        row->addWidget(w);
    if (stretch)
        row->addStretch();
    return row;
}

// The move buttons, in the order of their controls, and where each sits in the cross.
struct MoveButton {
    const char* name;
    const char* toolTip;
    int row;
    int column;
};
constexpr MoveButton kMoveButtons[] = {
    {"butMove0", "Move Left", 1, 0}, {"butMove1", "Move Right", 1, 2},
    {"butMove2", "Move Up", 0, 1},   {"butMove3", "Move Down", 2, 1},
    {"butMove4", "Move Home", 1, 1},
};

const char* const kTabStyle = R"(
QPushButton[tabButton="true"] {
    border: 1px solid palette(mid);
    border-radius: 4px;
    padding: 5px 16px;
    background: palette(button);
}
QPushButton[tabButton="true"]:hover:!checked { background: palette(light); }
QPushButton[tabButton="true"]:checked {
    background: palette(highlight);
    color: palette(highlighted-text);
    border-color: palette(highlight);
}
)";

} // namespace

MainWindow::MainWindow(CloseGate& gate, QWidget* parent)
    : QMainWindow(parent), gate_(gate), cameraArea_(Named(new QWidget, "camSrc")) {
    setObjectName(QStringLiteral("frmUI"));
    setWindowTitle(QStringLiteral("Kestrova Webcam"));

    BuildToolbars();
    auto* central = new QWidget;
    auto* views = new QVBoxLayout(central);
    views->setContentsMargins(8, 8, 8, 8);
    views->addWidget(BuildCameraView());
    views->addWidget(BuildSettingsView());
    setCentralWidget(central);
    BuildStatusBar();
    resize(820, 600);
}

void MainWindow::BuildToolbars() {
    Controls& ui = Ui();
    auto* menuBar = Named(new QToolBar(QStringLiteral("View")), "MenuBar");
    menuBar->setMovable(false);
    menuBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    menuBar->setIconSize(QSize(24, 24));
    auto* view = menuBar->addAction(QString());
    view->setObjectName(QStringLiteral("cam_sett"));
    Bind(view, ui.MenuBar.Buttons[0], {SettingsIcon(), CameraIcon()},
         [] { Ui().MenuBar.ButtonClick(Ui().MenuBar.Buttons[0]); });
    addToolBar(Qt::TopToolBarArea, menuBar);

    auto* pages = Named(new QToolBar(QStringLiteral("Web pages")), "MenuBar2");
    pages->setMovable(false);
    pages->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    pages->setIconSize(QSize(24, 24));
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    pages->addWidget(spacer);
    const QIcon icons[] = {WebPageIcon(), HelpIcon()};
    for (std::size_t i = 0; i < 2; ++i) {
        ToolButton& button = ui.MenuBar2.Buttons[i];
        auto* action = pages->addAction(QString());
        action->setObjectName(button.key);
        Bind(action, button, {icons[i]}, [&button] { Ui().MenuBar2.ButtonClick(button); });
    }
    addToolBar(Qt::TopToolBarArea, pages);
}

QWidget* MainWindow::BuildCameraView() {
    Controls& ui = Ui();
    auto* view = Named(new QWidget, "cameraView");
    auto* columns = new QHBoxLayout(view);
    columns->setContentsMargins(0, 0, 0, 0);

    auto* pictureLayout = new QVBoxLayout(cameraArea_);
    pictureLayout->setContentsMargins(0, 0, 0, 0);
    cameraArea_->setAutoFillBackground(true);
    QPalette dark = cameraArea_->palette();
    dark.setColor(QPalette::Window, QColor(24, 24, 28));
    cameraArea_->setPalette(dark);
    columns->addWidget(new AspectBox(cameraArea_, 4, 3), 1);

    auto* side = new QVBoxLayout;
    auto* toggle = Push("butControls", ui.butControls);
    toggle->setToolTip(QStringLiteral("Show or hide the camera controls"));
    side->addWidget(toggle);

    auto* controls = Named(new QGroupBox(QStringLiteral("Camera controls")), "pctControls");
    BindVisible(controls, ui.pctControls);
    auto* controlRows = new QVBoxLayout(controls);
    auto* cross = new QGridLayout;
    cross->setSpacing(4);
    for (std::size_t i = 0; i < ui.butMove.size(); ++i) {
        const MoveButton& place = kMoveButtons[i];
        auto* button = Named(new QToolButton, place.name);
        button->setIcon(MoveIcon(static_cast<int>(i)));
        button->setIconSize(QSize(22, 22));
        button->setFixedSize(40, 40);
        button->setToolTip(QLatin1String(place.toolTip));
        BindClicks(button, ui.butMove[i]);
        cross->addWidget(button, place.row, place.column);
    }
    auto* crossRow = new QHBoxLayout;
    crossRow->addStretch();
    crossRow->addLayout(cross);
    crossRow->addStretch();
    controlRows->addLayout(crossRow);
    controlRows->addSpacing(6);
    controlRows->addWidget(new QLabel(QStringLiteral("Zoom")));
    auto* zoom = Named(new QSlider(Qt::Horizontal), "sldFocus");
    zoom->setSingleStep(5);
    zoom->setPageStep(10);
    zoom->setToolTip(QStringLiteral("Zoom"));
    Bind(zoom, ui.sldFocus);
    controlRows->addWidget(zoom);
    side->addWidget(controls);
    side->addStretch();
    auto* sideWidget = new QWidget;
    sideWidget->setLayout(side);
    sideWidget->setFixedWidth(170);
    side->setContentsMargins(0, 0, 0, 0);
    columns->addWidget(sideWidget);
    // Without the PTZ controls (a plain webcam) the picture takes the whole width.
    QPointer<QWidget> guard(sideWidget);
    const auto showSide = [guard] {
        if (guard)
            guard->setVisible(Ui().butControls.visible() || Ui().pctControls.visible());
    };
    showSide();
    ui.butControls.observe(showSide);
    ui.pctControls.observe(showSide);

    BindVisible(view, ui.camSrc);
    return view;
}

QWidget* MainWindow::BuildSettingsView() {
    Controls& ui = Ui();
    auto* view = Named(new QWidget, "settingsView");
    auto* rows = new QVBoxLayout(view);
    rows->setContentsMargins(0, 0, 0, 0);

    auto* picture = Named(new PictureBox, "pctSettings");
    picture->setToolTip(QStringLiteral("Click image to view Kestrova Live Cameras list"));
    picture->clicked = [] { Ui().pctSettings.click(); };
    rows->addWidget(picture, 1);

    // The settings area as a whole is shown with its picture; the picture's pointer says
    // whether a click on it is what the area offers.
    QPointer<QWidget> guardView(view);
    QPointer<PictureBox> guardPicture(picture);
    auto show = [guardView, guardPicture] {
        if (!guardView || !guardPicture)
            return;
        const Picture& control = Ui().pctSettings;
        guardPicture->setPicture(control.value());
        guardPicture->setEnabled(control.enabled());
        if (control.customPointer())
            guardPicture->setCursor(Qt::PointingHandCursor);
        else
            guardPicture->unsetCursor();
        if (guardView->parentWidget() || !control.visible())
            guardView->setVisible(control.visible());
    };
    show();
    ui.pctSettings.observe(show);

    auto* tabRow = new QHBoxLayout;
    tabRow->setSpacing(4);
    auto* settings = Push("butSettings", ui.butSettings);
    settings->setIcon(SettingsIcon());
    tabRow->addWidget(settings);
    tabRow->addSpacing(16);
    const std::pair<const char*, TabButton*> tabs[] = {{"butBroadcast", &ui.butBroadcast},
                                                       {"butCamera", &ui.butCamera},
                                                       {"butOptions", &ui.butOptions},
                                                       {"butMobile", &ui.butMobile}};
    for (const auto& [name, control] : tabs) {
        auto* tab = Named(new QPushButton, name);
        tab->setProperty("tabButton", true);
        tab->setCursor(Qt::PointingHandCursor);
        Bind(tab, *control);
        tabRow->addWidget(tab);
    }
    tabRow->addStretch();
    rows->addLayout(tabRow);

    // The panels take the same height, so that the picture keeps its size from tab to tab.
    QWidget* panels[] = {BuildBroadcastPanel(), BuildCameraPanel(), BuildOptionsPanel(),
                         BuildArchivePanel()};
    int height = 0;
    for (QWidget* panel : panels)
        height = std::max(height, panel->sizeHint().height());
    for (QWidget* panel : panels) {
        panel->setFixedHeight(height);
        rows->addWidget(panel);
    }
    view->setStyleSheet(QLatin1String(kTabStyle));
    return view;
}

QWidget* MainWindow::BuildBroadcastPanel() {
    Controls& ui = Ui();
    QTabWidget* panel = nullptr;
    auto* columns = new QHBoxLayout(SinglePage(panel, "Settings0", ui.Settings[0]));

    auto* listing = new QGroupBox(QStringLiteral("Live Listing"));
    auto* listingRows = new QVBoxLayout(listing);
    listingRows->addWidget(Check("chkPublic", QStringLiteral("Live Listing On/Off"), ui.chkPublic));
    listingRows->addLayout(
        Row({Push("cmdEditCamName", ui.cmdEditCamName), Push("cmdSetProfile", ui.cmdSetProfile)}));
    listingRows->addStretch();
    columns->addWidget(listing);

    auto* status = new QGroupBox(QStringLiteral("Broadcast"));
    auto* form = new QFormLayout(status);
    QLabel* reflector = Value("lblReflectorStatus", ui.lblReflectorStatus);
    reflector->setWordWrap(true);
    form->addRow(QStringLiteral("Status:"), reflector);
    QLabel* upload = Value("txtStatus", ui.txtStatus);
    upload->setFrameShape(QFrame::StyledPanel);
    upload->setFrameShadow(QFrame::Sunken);
    upload->setMargin(3);
    upload->setWordWrap(true);
    upload->setMinimumWidth(220);
    form->addRow(QStringLiteral("Upload Status:"), upload);
    form->addRow(QString(), Row({Push("cmdDebug", ui.cmdDebug)}));
    columns->addWidget(status, 1);
    return panel;
}

QWidget* MainWindow::BuildCameraPanel() {
    Controls& ui = Ui();
    QTabWidget* panel = nullptr;
    auto* columns = new QHBoxLayout(SinglePage(panel, "Settings1", ui.Settings[1]));

    auto* camera = new QGroupBox(QStringLiteral("Camera Settings"));
    auto* cameraRows = new QVBoxLayout(camera);
    QLabel* name = Value("lblCameraName", ui.lblCameraName);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    cameraRows->addWidget(name);
    cameraRows->addLayout(
        Row({Push("cmdChangeCam", ui.cmdChangeCam), Push("cmdCamSource", ui.cmdCamSource)}));
    cameraRows->addStretch();
    columns->addWidget(camera);

    auto* image = new QGroupBox(QStringLiteral("Camera Image"));
    auto* imageRows = new QVBoxLayout(image);
    imageRows->addWidget(Caption("lblJPEGQuality", ui.lblJPEGQuality));
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(new QLabel(QStringLiteral("0")));
    auto* quality = Named(new QSlider(Qt::Horizontal), "sldJPEGQuality");
    quality->setTickPosition(QSlider::TicksBelow);
    quality->setTickInterval(10);
    Bind(quality, ui.sldJPEGQuality);
    qualityRow->addWidget(quality, 1);
    qualityRow->addWidget(new QLabel(QStringLiteral("100")));
    imageRows->addLayout(qualityRow);
    imageRows->addStretch();
    columns->addWidget(image, 1);
    return panel;
}

QWidget* MainWindow::BuildOptionsPanel() {
    Controls& ui = Ui();
    auto* tabs = Named(new QTabWidget, "Settings2");

    auto* skin = new QWidget;
    auto* skinRows = new QVBoxLayout(skin);
    skinRows->addWidget(Check("chkEnableZoom", QStringLiteral("Zoom On/Off"), ui.chkEnableZoom));
    skinRows->addWidget(
        Check("chkEnableSnap", QStringLiteral("Snapshot On/Off"), ui.chkEnableSnap));
    skinRows->addWidget(Check("chkTimeStamp", QStringLiteral("Time Stamp Image"), ui.chkTimeStamp));
    skinRows->addLayout(Row({Push("cmdSkin", ui.cmdSkin)}));
    skinRows->addStretch();
    tabs->addTab(skin, QStringLiteral("Skin "));

    auto* password = new QWidget;
    auto* passwordRows = new QVBoxLayout(password);
    auto* passwordForm = new QFormLayout;
    QLabel* current = Value("lblPassword", ui.lblPassword);
    current->setMinimumWidth(160);
    auto* passwordLine = new QHBoxLayout;
    passwordLine->addWidget(current);
    passwordLine->addWidget(Push("cmdEditPasswords", ui.cmdEditPasswords));
    passwordLine->addStretch();
    passwordForm->addRow(QStringLiteral("Password:"), passwordLine);
    passwordRows->addLayout(passwordForm);
    passwordRows->addWidget(
        Check("chkEnablePasswords", QStringLiteral("Password On/Off"), ui.chkEnablePasswords));
    passwordRows->addWidget(Check("chkThumb", QStringLiteral("Hide Thumbnail"), ui.chkThumb));
    passwordRows->addStretch();
    tabs->addTab(password, QStringLiteral("Password"));

    auto* presets = new QWidget;
    auto* presetRows = new QVBoxLayout(presets);
    presetRows->addWidget(
        Check("chkEnablePresets", QStringLiteral("Presets On/Off"), ui.chkEnablePresets));
    QPushButton* admin = Push("cmdPtuAdmin", ui.cmdPtuAdmin);
    admin->setToolTip(QStringLiteral("Edit the camera's presets on its web page"));
    presetRows->addLayout(Row({admin}));
    presetRows->addStretch();
    tabs->addTab(presets, QStringLiteral("Presets"));

    auto* chat = new QWidget;
    auto* chatRows = new QVBoxLayout(chat);
    chatRows->addLayout(Row({Check("chkChatOnOff", QStringLiteral("Chat On/Off"), ui.chkChatOnOff),
                             Push("cmdLaunchChatBox", ui.cmdLaunchChatBox)}));
    auto* names = new QGridLayout;
    names->addWidget(new QLabel(QStringLiteral("Chat Username:")), 0, 0);
    QLabel* user = Value("lblChatUsername", ui.lblChatUsername);
    user->setMinimumWidth(180);
    names->addWidget(user, 0, 1);
    names->addWidget(Push("butEditChatName", ui.butEditChatName), 0, 2);
    names->addWidget(new QLabel(QStringLiteral("Room name:")), 1, 0);
    names->addWidget(Value("lblRoomName", ui.lblRoomName), 1, 1);
    names->addWidget(Push("butEditRoomName", ui.butEditRoomName), 1, 2);
    names->setColumnStretch(3, 1);
    chatRows->addLayout(names);
    chatRows->addStretch();
    tabs->addTab(chat, QStringLiteral("Chat"));

    Bind(tabs, ui.Settings[2]);
    return tabs;
}

QWidget* MainWindow::BuildArchivePanel() {
    Controls& ui = Ui();
    QTabWidget* panel = nullptr;
    auto* columns = new QHBoxLayout(SinglePage(panel, "Settings3", ui.Settings[3]));

    auto* archive = new QGroupBox(QStringLiteral("Archive"));
    auto* rows = new QVBoxLayout(archive);
    rows->addWidget(
        Check("chkEnableArchive", QStringLiteral("Archive On/Off"), ui.chkEnableArchive));
    rows->addWidget(
        Check("chkDisplayArchive", QStringLiteral("Display Archive"), ui.chkDisplayArchive));
    rows->addLayout(Row({Push("cmdViewArchive", ui.cmdViewArchive)}));
    rows->addStretch();
    columns->addWidget(archive);

    auto* rate = new QGroupBox(QStringLiteral("Upload"));
    auto* form = new QFormLayout(rate);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    auto* rates = Named(new QComboBox, "cboArchive");
    rates->setPlaceholderText(QStringLiteral("Choose an Archive Rate"));
    rates->setMinimumWidth(180);
    Bind(rates, ui.cboArchive);
    form->addRow(QStringLiteral("Choose Archive Rate:"), rates);
    form->addRow(QStringLiteral("Next Upload:"), Value("lblArcUpload", ui.lblArcUpload));
    columns->addWidget(rate, 1);
    return panel;
}

void MainWindow::BuildStatusBar() {
    Controls& ui = Ui();
    auto* camera = Named(new QLabel, "statusCameraName");
    camera->setContentsMargins(4, 0, 8, 0);
    Bind(camera, ui.lblCameraName);
    statusBar()->addWidget(camera);
    auto* reflector = Named(new QLabel, "statusReflector");
    reflector->setFrameShape(QFrame::StyledPanel);
    reflector->setContentsMargins(6, 0, 6, 0);
    Bind(reflector, ui.lblReflectorStatus);
    statusBar()->addWidget(reflector, 1);
    statusBar()->addPermanentWidget(Caption("lblVersion", ui.lblVersion));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (gate_.unloaded()) {
        event->accept();
        return;
    }
    if (!gate_.CloseCheck()) {
        event->ignore();
        return;
    }
    event->accept();
    gate_.Unload();
}

} // namespace kestrova
