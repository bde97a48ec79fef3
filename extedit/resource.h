// Resource identifiers of Morvex, grouped by kind.
#pragma once

// Icons
#define IDI_MORVEX          100

// Controls of the main form
#define IDC_EXTENSIONS      1000
#define IDC_QUITTER         1001
#define IDC_VALIDER         1002
#define IDC_GEXTENSIONS     1003
#define IDC_EXPLICATIONS    1004
#define IDC_LABEL1          1005

// Strings: application and messages
#define IDS_APP_TITLE       2000
#define IDS_PROBLEM_CAPTION 2001
#define IDS_INI_PROBLEM     2002
#define IDS_FORMAT_PROBLEM  2003
#define IDS_LIST_INDEX      2004
#define IDS_INI_CHANGED     2005
#define IDS_LIST_CHANGED    2006

// Strings: control texts
#define IDS_QUITTER         2100
#define IDS_VALIDER         2101
#define IDS_GEXTENSIONS     2102
#define IDS_EXPLICATIONS    2103
#define IDS_LABEL1          2104
