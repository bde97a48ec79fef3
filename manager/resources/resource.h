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
#define IDS_TIP_HELP               32811
#define IDS_LOG_RESTARTING         32812
#define IDS_TIP_WINDOW_SIZE        32813
#define IDS_LOG_CONFIG_CHANGED     32814
// Why a server did not come up (event log; every language).
#define IDS_PORT_HOLDER            32816  // %d port, %s program, %lu process id
#define IDS_PORT_HOLDER_UNKNOWN    32817  // %d port
// A service switch that did not work.
#define IDS_SERVICE_INSTALL_FAILED 32827  // %s server name
#define IDS_SERVICE_REMOVE_FAILED  32828  // %s server name
// Services of other programs, missing rights, writes that fail (32831
// and 32832 stay unused).
#define IDS_SERVICE_FOREIGN        32830  // %s service name, %s its program
#define IDS_UNKNOWN_PROGRAM        32833  // stands for a program nobody names
#define IDS_SERVICES_NEED_ADMIN    32834  // event log and box
#define IDS_NOT_ENDED              32835  // event log and box; %s server name, %s system error text
#define IDS_SETTINGS_NOT_SAVED     32836  // event log and box; %s file, %s system error text
#define IDS_LOG_NOT_WRITTEN        32837  // box; %s file, %s system error text
#define IDS_RUN_KEY_USER           32838  // event log: start with Windows for this user only
#define IDS_RUN_KEY_FAILED         32839  // event log and box; %s system error text
// A server's stop that does not end.
#define IDS_STOP_OVERDUE           32850  // event log; %s server name, %d seconds
#define IDS_STOP_OVERDUE_ASK       32851  // %s server name, %d seconds, %s server name
#define IDS_ENDED_BY_USER          32852  // event log; %s server name
// Why a server did not start (32870-32899)
#define IDS_DIAG_PORT_SERVICE          32870  // %d port, %s service display name(s), %s program, %lu pid
#define IDS_DIAG_PORT_HTTPSYS          32871  // %d port, %s services
#define IDS_DIAG_PORT_HTTPSYS_ANY      32872  // %d port
#define IDS_DIAG_PORT_RESERVED         32873  // %d port, %u first, %u last of the range
#define IDS_DIAG_PORT_NEXT             32874  // the next step after IDS_PORT_HOLDER
#define IDS_DIAG_END_CODE              32875  // %s program, %lu code (hex), %s words
#define IDS_DIAG_CODE_DLL_NOT_FOUND    32876
#define IDS_DIAG_CODE_ENTRY_POINT      32877
#define IDS_DIAG_CODE_BAD_IMAGE        32878
#define IDS_DIAG_CODE_ACCESS_VIOLATION 32879
#define IDS_DIAG_CODE_DLL_INIT         32880
#define IDS_DIAG_CODE_FAST_FAIL        32881
#define IDS_DIAG_CODE_STACK_OVERFLOW   32882
#define IDS_DIAG_CODE_BAD_INSTRUCTION  32883
#define IDS_DIAG_CODE_NO_MEMORY        32884
#define IDS_DIAG_CODE_HEAP             32885
#define IDS_DIAG_CODE_INTERRUPTED      32886
#define IDS_DIAG_DLL_MISSING           32887  // %s DLL, %s module that needs it
#define IDS_DIAG_DLL_WRONG_WIDTH       32888  // %s DLL, %s where found, %s module, %d bits
#define IDS_DIAG_DLL_RUNTIME           32889  // %s runtime
#define IDS_DIAG_PROGRAM_GONE          32890  // %s program path
#define IDS_DIAG_CONSOLE               32891
#define IDS_DIAG_MYSQL_RECOVERING      32892
#define IDS_DIAG_MYSQL_UNRECOVERABLE   32893  // %s data folder
#define IDS_DIAG_MYSQL_TABLE_CRASHED   32894  // %s table
#define IDS_DIAG_MYSQL_DATA_HELD       32895  // %s data folder, %s ' (pid N)' or empty
#define IDS_DIAG_MYSQL_PORT_TAKEN      32896  // %s port
#define IDS_DIAG_FOLDER_NON_ASCII      32897  // %s folder
#define IDS_DIAG_FOLDER_NETWORK        32898  // %s folder
#define IDS_DIAG_FOLDER_TOO_LONG       32899  // %s folder, %d characters at most
// Why the manager holds the end of the session; the service switch under
// way (event log).
#define IDS_SESSION_END_REASON     32900
#define IDS_SERVICES_INSTALLING    32901
#define IDS_SERVICES_REMOVING      32902

// ---------------------------------------------------------------------------
// Dialog templates (Manager.rc), each in English, French and Italian.
// ---------------------------------------------------------------------------
#define IDD_MANAGER                133    // the manager window
#define IDD_ABOUT                  134    // the about dialog

// ---------------------------------------------------------------------------
// Menus
// ---------------------------------------------------------------------------
#define IDR_TRAY_MENU              129    // one popup: the tray menu

// ---------------------------------------------------------------------------
// Icons, cursor and bitmaps
// ---------------------------------------------------------------------------
#define IDI_TRAY_IDLE              128    // no server running
#define IDI_TRAY_BOTH              138    // Apache and MySQL running
#define IDI_TRAY_APACHE            139    // Apache only
#define IDI_TRAY_MYSQL             140    // MySQL only
#define IDI_WINDOW                 141    // window and about dialog icon
#define IDC_HAND_CURSOR            136    // pointing hand over the links
#define IDB_MENU_BUTTON            142    // the tray-menu button
#define IDB_PIN_OFF                164    // pin button, window not kept on top
#define IDB_PIN_ON                 165    // pin button, window kept on top
#define IDB_BANNER_LINE            173    // line under the banner
#define IDB_BANNER                 181    // banner across the top
#define IDB_HELP_BUTTON            182    // context-help button
#define IDB_BANNER_150             183    // the banner drawn at 150 % (144 dpi)

// ---------------------------------------------------------------------------
// Version of the manager (the version resource; the version check and the
// about dialog read it back from the executable).
// ---------------------------------------------------------------------------
#define TARVANE_VERSION_MAJOR      1
#define TARVANE_VERSION_MINOR      0
#define TARVANE_VERSION_PATCH      0
#define TARVANE_VERSION_BUILD      1
#define TARVANE_QUOTE_(text)       #text
#define TARVANE_DOTTED_(a, b, c, d) TARVANE_QUOTE_(a.b.c.d)
// "1.0.0.1"
#define TARVANE_VERSION_TEXT       TARVANE_DOTTED_(TARVANE_VERSION_MAJOR, TARVANE_VERSION_MINOR, \
                                                   TARVANE_VERSION_PATCH, TARVANE_VERSION_BUILD)

// ---------------------------------------------------------------------------
// Controls of the manager window (IDD_MANAGER)
// ---------------------------------------------------------------------------
#define IDC_AUTO_START_TARVANE     1001
#define IDC_AUTO_START_SERVERS     1002
#define IDC_AUTO_RELOAD_CONF       1003
#define IDC_ABOUT                  1008
#define IDC_EXPERT_MODE            1012
#define IDC_SSL_MODE               1014   // hidden and disabled
#define IDC_CHECK_VERSION          1015
#define IDC_START_AS_SERVICES      1019
#define IDC_MYSQL_STATUS           1026
#define IDC_APACHE_STATUS          1027
#define IDC_APPLY                  1029
#define IDC_MYSQL_ARGUMENTS        1031
#define IDC_MENU_BUTTON            1032
#define IDC_PIN                    1040
#define IDC_HIDDEN_1               1049   // hidden, unused
#define IDC_HIDDEN_2               1050   // hidden, unused
#define IDC_BANNER_LINE            1051
#define IDC_BANNER                 1052
#define IDC_EVENT_LOG              1054
#define IDC_HELP_BUTTON            1059
#define IDC_EXPANSION              1065   // vertical trackbar, 0 to 2

// ---------------------------------------------------------------------------
// Controls of the about dialog (IDD_ABOUT); OK is IDOK.
// ---------------------------------------------------------------------------
#define IDC_PRODUCT_LINK           1007
#define IDC_AUTHOR_1               1009
#define IDC_AUTHOR_2               1010
#define IDC_AUTHOR_3               1011
#define IDC_CHECK_VERSION_BUTTON   1016   // also sent to the owner

// ---------------------------------------------------------------------------
// Commands (WM_COMMAND ids of menu items, keys and command words)
// ---------------------------------------------------------------------------
#define ID_CMD_START               32771  // F2, "start"
#define ID_CMD_STOP                32772  // F3, "stop"
#define ID_CMD_EDIT_APACHE_CONF    32773
#define ID_CMD_TOGGLE              32774  // the menu's start/stop item
#define ID_CMD_QUIT                32776  // "quit"
#define ID_CMD_EDIT_MYSQL_CONF     32781
#define ID_CMD_APACHE_ERROR_LOG    32782
#define ID_CMD_MYSQL_ERROR_LOG     32783
#define ID_CMD_BROWSE              32785  // "browse"
#define ID_CMD_SHOW_WINDOW         32786
#define ID_CMD_EDIT_PHP_CONF       32788
#define ID_CMD_EXTENSION_EDITOR    32792
#define ID_CMD_PHPMYADMIN          32793
#define ID_CMD_RESTART             32794  // F5, "restart"
#define ID_CMD_MANAGER_LOG         32796  // French menu only
#define ID_CMD_APACHE_ACCESS_LOG   32797  // French menu only
#define ID_CMD_INTRODUCTION        32798  // F1
#define ID_CMD_FAQ                 32799
#define ID_CMD_PHP_START_SITE      32800
#define ID_CMD_ADMINISTRATION      32801  // French menu only
