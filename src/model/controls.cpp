#include "model/controls.h"

#include "model/texts.h"
#include "model/ui.h"

const WindowSpec kWindows[2] = {
    {MainWindow, &txt::MainWindowTitle, 200, 300, true, 0, 0},
    {SettingsWindow, &txt::SettingsWindowTitle, 200, 270, false, 551, 364},
};

const ControlSpec kControls[20] = {
    {AccountLabel, "AccountLabel", MainWindow, ControlKind::Label, 10, 10, 50, 20, &txt::AccountLabel},
    {AccountCombo, "AccountCombo", MainWindow, ControlKind::DropDown, 70, 10, 120, 20, &txt::Empty},
    {ZoneLabel, "ZoneLabel", MainWindow, ControlKind::Label, 10, 40, 80, 20, &txt::ZoneLabel},
    {LuckLabel, "LuckLabel", MainWindow, ControlKind::Label, 10, 60, 80, 20, &txt::LuckLabel},
    {KindLabel, "KindLabel", MainWindow, ControlKind::Label, 10, 80, 80, 20, &txt::KindLabel},
    {ZoneCombo, "ZoneCombo", MainWindow, ControlKind::DropDown, 100, 40, 90, 20, &txt::Empty},
    {LuckField, "LuckField", MainWindow, ControlKind::TextField, 100, 60, 90, 20, &txt::Empty},
    {KindCombo, "KindCombo", MainWindow, ControlKind::DropDown, 100, 80, 90, 20, &txt::Empty},
    {LinkLabel, "LinkLabel", MainWindow, ControlKind::Label, 10, 110, 170, 20, &txt::LinkLabel},
    {LinkField, "LinkField", MainWindow, ControlKind::TextField, 10, 130, 180, 20, &txt::Empty},
    {ResultCaptionLabel, "ResultCaptionLabel", MainWindow, ControlKind::Label, 10, 190, 110, 20,
     &txt::ResultCaptionLabel},
    {ResultLabel, "ResultLabel", MainWindow, ControlKind::Label, 10, 210, 180, 40, &txt::ResultLabel},
    {CheckButton, "CheckButton", MainWindow, ControlKind::PushButton, 20, 160, 150, 20, &txt::CheckButton},
    {AppendButton, "AppendButton", MainWindow, ControlKind::PushButton, 10, 260, 180, 30, &txt::AppendButton},
    {AccountListLabel, "AccountListLabel", SettingsWindow, ControlKind::Label, 10, 10, 140, 20,
     &txt::AccountListLabel},
    {AccountList, "AccountList", SettingsWindow, ControlKind::List, 10, 30, 180, 100, &txt::Empty},
    {DeleteButton, "DeleteButton", SettingsWindow, ControlKind::PushButton, 20, 140, 160, 20, &txt::DeleteButton},
    {NewAccountLabel, "NewAccountLabel", SettingsWindow, ControlKind::Label, 10, 180, 140, 20,
     &txt::NewAccountLabel},
    {NewAccountField, "NewAccountField", SettingsWindow, ControlKind::TextField, 10, 200, 180, 20, &txt::Empty},
    {AddButton, "AddButton", SettingsWindow, ControlKind::PushButton, 40, 230, 120, 30, &txt::AddButton},
};

bool controlTakesFocus(ControlKind kind) { return kind != ControlKind::Label; }
