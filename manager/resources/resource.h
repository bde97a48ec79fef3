// Resource ids of the manager, grouped by kind. Shared by the resource
// scripts and the C++ sources.
#pragma once

// ---------------------------------------------------------------------------
// String table (Strings.rc), in English, French and Italian. A language may
// lack an id; fetching it then gives an empty text.
// ---------------------------------------------------------------------------
#define IDS_APP_NAME               32778  // caption, tray tooltip, Run entry name
#define IDS_MYSQL_START_FAILED     32779  // %s: system error text
#define IDS_MENU_STOP              32781  // tray menu default item, servers running
#define IDS_MYSQL_DEFAULT_ARGS     32782
#define IDS_MENU_START             32783  // tray menu default item, servers stopped
#define IDS_APACHE_UNEXPECTED_END  32787  // event log
#define IDS_APACHE_PORT_TAKEN      32788
#define IDS_APACHE_START_FAILED    32789  // %s: system error text
#define IDS_EXPERT_WARNING         32790
#define IDS_MENU_CONFIGURATION     32791  // tray menu outside expert mode
#define IDS_NEW_VERSION            32793  // %s: published version
#define IDS_STATE_PENDING          32794
#define IDS_MYSQL_UNEXPECTED_END   32795  // event log
#define IDS_STATE_STARTED          32796
#define IDS_STATE_STOPPED          32797
#define IDS_HELP_SERVICES          32798
#define IDS_TIP_EXPERT_MODE        32800
#define IDS_TIP_CHECK_VERSION      32801
#define IDS_TIP_AUTO_RELOAD        32802
#define IDS_HELP_MYSQL_ARGUMENTS   32803
#define IDS_HELP_AUTO_START        32804
#define IDS_TIP_APACHE_STATE       32807
#define IDS_TIP_MYSQL_STATE        32808
#define IDS_TIP_PIN                32809
#define IDS_APACHE_CONFIG_ERROR    32810  // %s: syntax checker output
#define IDS_TIP_HELP               32811  // French only
#define IDS_LOG_RESTARTING         32812  // English and French
#define IDS_TIP_WINDOW_SIZE        32813  // French only
#define IDS_LOG_CONFIG_CHANGED     32814  // French only
