// The settings page in the middle of the window: edits count only after
// Apply (or at quit); Close throws them away.
#include "ManagerWindow.h"

#include "System.h"
#include "Texts.h"
#include "resource.h"

namespace {

struct PageFlag {
    int control;
    bool ManagerSettings::*field;
};

const PageFlag PageFlags[] = {
    {IDC_AUTO_START_TARVANE, &ManagerSettings::AutoStartTarvane},
    {IDC_START_AS_SERVICES, &ManagerSettings::StartAsServices},
    {IDC_AUTO_START_SERVERS, &ManagerSettings::AutoStartServers},
    {IDC_EXPERT_MODE, &ManagerSettings::ExpertMode},
    {IDC_CHECK_VERSION, &ManagerSettings::CheckVersion},
    {IDC_AUTO_RELOAD_CONF, &ManagerSettings::AutoReloadConf},
    {IDC_SSL_MODE, &ManagerSettings::SslMode},
};

}  // namespace

void ManagerWindow::loadSettingsPage()
{
    for (const PageFlag& flag : PageFlags)
        CheckDlgButton(handle_, flag.control,
                       (settings_.*flag.field) ? BST_CHECKED : BST_UNCHECKED);
    // No more than the setting holds: a longer text would be cut unseen.
    SendDlgItemMessageA(handle_, IDC_MYSQL_ARGUMENTS, EM_LIMITTEXT, MaxMySqlArguments, 0);
    SetDlgItemTextA(handle_, IDC_MYSQL_ARGUMENTS, settings_.MySqlArguments);
    EnableWindow(GetDlgItem(handle_, IDC_START_AS_SERVICES),
                 IsAdministrator() && IsNtFamily());
    EnableWindow(GetDlgItem(handle_, IDC_AUTO_START_SERVERS), !settings_.StartAsServices);
    EnableWindow(GetDlgItem(handle_, IDC_MYSQL_ARGUMENTS), !settings_.StartAsServices);
}

void ManagerWindow::storeSettingsPage()
{
    for (const PageFlag& flag : PageFlags)
        settings_.*flag.field = IsDlgButtonChecked(handle_, flag.control) == BST_CHECKED;
    GetDlgItemTextA(handle_, IDC_MYSQL_ARGUMENTS, settings_.MySqlArguments,
                    MaxMySqlArguments + 1);
}

void ManagerWindow::applySettings()
{
    // A change of the service option stops a started stack; the switch
    // follows once both servers have stopped.
    stack_.applyServices(IsDlgButtonChecked(handle_, IDC_START_AS_SERVICES) == BST_CHECKED);
    bool autoStart = settings_.AutoStartTarvane;
    storeSettingsPage();
    // Start with Windows takes effect now; the box shows what was written.
    if (settings_.AutoStartTarvane != autoStart) {
        ManagerSettings::RunPlace place = settings_.SaveRunEntry();
        CheckDlgButton(handle_, IDC_AUTO_START_TARVANE, settings_.AutoStartTarvane ? BST_CHECKED : BST_UNCHECKED);
        char text[MaxTextLength + 1];
        if (settings_.runError()) {
            char system[200];
            SystemErrorText(settings_.runError(), system, sizeof system);
            FormatText(text, sizeof text, IDS_RUN_KEY_FAILED, system);
            logEvent(text, SourceManager);
            prompt(text, MB_OK | MB_ICONEXCLAMATION);
        } else if (place == ManagerSettings::RunUser) {
            CopyText(text, sizeof text, IDS_RUN_KEY_USER);
            logEvent(text, SourceManager);
        }
    }
    stack_.apacheDriver.setWatchConfig(settings_.AutoReloadConf);
    stack_.apacheDriver.setSsl(settings_.SslMode);
    stack_.mysqlDriver.setArguments(settings_.MySqlArguments);
}

void ManagerWindow::onServicesToggled()
{
    bool services = IsDlgButtonChecked(handle_, IDC_START_AS_SERVICES) == BST_CHECKED;
    EnableWindow(GetDlgItem(handle_, IDC_AUTO_START_SERVERS), !services);
    EnableWindow(GetDlgItem(handle_, IDC_MYSQL_ARGUMENTS), !services);
}

void ManagerWindow::onExpertToggled()
{
    if (IsDlgButtonChecked(handle_, IDC_EXPERT_MODE) != BST_CHECKED)
        return;
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, IDS_EXPERT_WARNING);
    if (prompt(text, MB_YESNO | MB_DEFBUTTON2) != IDYES)
        CheckDlgButton(handle_, IDC_EXPERT_MODE, BST_UNCHECKED);
}

void ManagerWindow::showFieldHelp(const HELPINFO* info)
{
    if (!info)
        return;
    UINT id;
    unsigned field;  // the field's bit in fieldTips_
    switch (info->iCtrlId) {
    case IDC_AUTO_START_SERVERS:
        id = IDS_HELP_AUTO_START;
        field = 1;
        break;
    case IDC_START_AS_SERVICES:
        id = IDS_HELP_SERVICES;
        field = 2;
        break;
    case IDC_MYSQL_ARGUMENTS:
        id = IDS_HELP_MYSQL_ARGUMENTS;
        field = 4;
        break;
    default:
        return;
    }
    char text[MaxTextLength + 1];
    CopyText(text, sizeof text, id);
    // The field gets its tooltip once; a further F1 only shows the text.
    if (!(fieldTips_ & field)) {
        addTooltip(GetDlgItem(handle_, info->iCtrlId), text);
        fieldTips_ |= field;
    }
    prompt(text, MB_OK | MB_ICONINFORMATION);
}
