// Identifiers of the console's dialogs, controls, strings and icon. Dialog and control numbers are
// the ones the console refers to; strings have numbers of their own.
#pragma once

// Dialogs.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_ORVANESRV_DIALOG = 102;
inline constexpr int IDD_TAB_SYSTEM = 129;
inline constexpr int IDD_TAB_ACCOUNT = 130;
inline constexpr int IDD_LOGIN = 131;
inline constexpr int IDD_ADD_USER = 133;
inline constexpr int IDD_ADD_GROUP = 134;
inline constexpr int IDD_GROUP_ACCESS = 135;

// The program icon.
inline constexpr int IDR_MAINFRAME = 128;

// Buttons every dialog shares.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Main window.
inline constexpr int IDC_TAB = 1000;
inline constexpr int IDC_EXPORT = 1026;
inline constexpr int IDC_IMPORT = 1027;
// About box: the version line and the line that says what the program is.
inline constexpr int IDC_ABOUT_ICON = 1101;
inline constexpr int IDC_ABOUT_VERSION = 1102;
inline constexpr int IDC_ABOUT_PURPOSE = 1103;
inline constexpr int IDC_ABOUT_HTTPS = 1104;
inline constexpr int IDC_ABOUT_FINGERPRINT = 1105;

// System tab.
inline constexpr int IDC_LIST_SERVERS = 1003;
inline constexpr int IDC_LOGIN = 1004;
inline constexpr int IDC_REFRESH = 1005;

// Login Dialog.
inline constexpr int IDC_ADMIN_USER = 1001;
inline constexpr int IDC_ADMIN_PASSWORD = 1002;

// Account tab.
inline constexpr int IDC_ADD_USER = 1006;
inline constexpr int IDC_ADD_GROUP = 1007;
inline constexpr int IDC_LIST_USERS = 1009;
inline constexpr int IDC_LIST_GROUPS = 1013;
inline constexpr int IDC_GROUP_PROPERTIES = 1015;
inline constexpr int IDC_GROUP_DELETE = 1016;
inline constexpr int IDC_USER_PROPERTIES = 1017;
inline constexpr int IDC_USER_DELETE = 1018;
inline constexpr int IDC_LIST_ACCESS = 1021;
inline constexpr int IDC_GROUP_ACCESS = 1023;

// User and group dialogs.
inline constexpr int IDC_USER_NAME = 1010;
inline constexpr int IDC_USER_PASSWORD = 1011;
inline constexpr int IDC_USER_CONFIRM = 1012;
inline constexpr int IDC_GROUP_NAME = 1014;
inline constexpr int IDC_CHECK_GROUPS = 1019;
inline constexpr int IDC_CHECK_USERS = 1020;

// Group access dialog.
inline constexpr int IDC_ACCESS_GROUP_NAME = 1024;
inline constexpr int IDC_ACCESS_SERVERS = 1025;
inline constexpr int IDC_ACCESS_FILTER_LABEL = 1106;
inline constexpr int IDC_ACCESS_FILTER = 1107;
inline constexpr int IDC_ACCESS_SELECT_SHOWN = 1108;
inline constexpr int IDC_ACCESS_CLEAR_SHOWN = 1109;
inline constexpr int IDC_ACCESS_COUNT = 1110;
// The group dialog's directory groups, one DN a line, and its hint.
inline constexpr int IDC_GROUP_DIRECTORY_GROUPS = 1120;
inline constexpr int IDC_GROUP_DIRECTORY_HINT = 1121;

// Strings with fixed numbers.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_FILE_FILTER = 102;
inline constexpr int IDS_SOCKETS_INIT_FAILED = 103;
inline constexpr int IDS_DEFAULT_EXT = 104;
// The console's other fixed texts.
inline constexpr int IDS_TAB_SYSTEM = 200;
inline constexpr int IDS_TAB_ACCOUNT = 201;
inline constexpr int IDS_SETTIMER_FAILED = 202;
inline constexpr int IDS_YES = 203;
inline constexpr int IDS_NO = 204;
inline constexpr int IDS_LOGGING = 205;
inline constexpr int IDS_NONE = 206; // "--"
inline constexpr int IDS_SURE_TO_DELETE = 207;
inline constexpr int IDS_USER_PROPERTIES = 208;
inline constexpr int IDS_GROUP_PROPERTIES = 209;
inline constexpr int IDS_USER_NAME_EMPTY = 210;
inline constexpr int IDS_USER_EXISTS = 211;
inline constexpr int IDS_PASSWORD_MISMATCH = 212;
inline constexpr int IDS_GROUP_NAME_EMPTY = 213;
inline constexpr int IDS_GROUP_EXISTS = 214;
inline constexpr int IDS_COL_IP_ADDRESS = 220;
inline constexpr int IDS_COL_SYSTEM_NAME = 221;
inline constexpr int IDS_COL_PRODUCT = 222;
inline constexpr int IDS_COL_FIRMWARE = 223;
inline constexpr int IDS_COL_MAC_ADDRESS = 224;
inline constexpr int IDS_COL_AUTH = 225;
inline constexpr int IDS_RUNNING_HEADLESS = 240; // %1: the running copy's process id
// The System tab's filter, the server menu, the Login button's tips and the status bar.
inline constexpr int IDC_SERVER_FILTER = 1040;
inline constexpr int IDC_SERVER_FILTER_LABEL = 1041;
inline constexpr int IDS_LOGIN_TIP_SELECT = 300;
inline constexpr int IDS_LOGIN_TIP_UNSUPPORTED = 301; // %1: IP address, %2: product
inline constexpr int IDS_LOGIN_TIP_READY = 302;
inline constexpr int IDS_MENU_LOGIN = 304;
inline constexpr int IDS_MENU_COPY_IP = 305;
inline constexpr int IDS_MENU_COPY_MAC = 306;
inline constexpr int IDS_FILTER_HINT = 307;
inline constexpr int IDS_STATUS_NOT_LISTENING = 309;
inline constexpr int IDS_STATUS_ARRAYS = 310;      // %1: listed, %2: authorized, %3: shown
inline constexpr int IDS_STATUS_LAST_SEARCH = 311; // %1: time of day
inline constexpr int IDS_STATUS_NO_SEARCH = 312;
// Arrays whose MAC address other addresses announce, and logins to new arrays.
inline constexpr int IDS_LOGIN_ASK_NEW = 314;   // %1: the arrays, a line each
inline constexpr int IDS_LOGIN_ASK_MOVED = 315; // %1: MAC, %2: its address, %3: the new one
inline constexpr int IDS_TIP_CONFLICT = 316;    // %1: its address, %2: the other addresses
inline constexpr int IDS_TIP_MOVED = 317;       // %1: its address, %2: the other addresses
inline constexpr int IDS_PASSWORD_EMPTY = 330;
inline constexpr int IDS_USER_NAME_CASE = 331;  // %1: the existing user's name
inline constexpr int IDS_GROUP_NAME_CASE = 332; // %1: the existing group's name
inline constexpr int IDS_COUNT_USER = 333;      // %1: one
inline constexpr int IDS_COUNT_USERS = 334;     // %1: any other count
inline constexpr int IDS_COUNT_GROUP = 335;
inline constexpr int IDS_COUNT_GROUPS = 336;
inline constexpr int IDS_EXPORTED = 337; // %1: users, %2: groups, %3: file
inline constexpr int IDS_IMPORTED = 338; // %1: file, %2 %3: added, %4 %5: replaced (users, groups)
// The main window's exit question.
inline constexpr int IDS_CONFIRM_EXIT = 340;
// The default password's warning line.
inline constexpr int IDS_DEFAULT_PASSWORD_WARNING = 341;
inline constexpr int IDS_CHANGE_DEFAULT_PASSWORD = 342;
// Directory changes the directory's rules refuse beyond the name checks above.
inline constexpr int IDS_USER_NAME_COLON = 343;
inline constexpr int IDS_BUILT_IN_USER = 344;    // %1: the account
inline constexpr int IDS_BUILT_IN_GROUP = 345;   // %1: the group
inline constexpr int IDS_OUTSIDE_EVERYONE = 346; // %1: the group every user is in
// Remembered authorizations: the exit question's second line, the status bar, the passphrase.
inline constexpr int IDS_EXIT_REMEMBERED = 347; // %1: authorizations
inline constexpr int IDS_EXIT_LOST = 348;       // %1: authorizations
inline constexpr int IDS_STATUS_REMEMBERED =
    349; // %1 remembered, %2 waiting, %3 verified, %4 dropped
inline constexpr int IDS_UNSEAL_PROMPT = 350;
// The Login button's press (its tips beyond the first ones), the Auth cell's tip and the status
// bar's ports and search.
inline constexpr int IDS_LOGIN_TIP_NO_MAC = 370; // %1: IP address
inline constexpr int IDS_LOGIN_TIP_SOME = 371;   // %1: arrays that take a login, %2: selected
inline constexpr int IDS_AUTH_TIP_LAST = 372;    // %1: when, %2: how it ended
inline constexpr int IDS_AUTH_TIP_VERIFIED_LOGIN = 373;      // %1: when
inline constexpr int IDS_AUTH_TIP_VERIFIED_REMEMBERED = 374; // %1: when
inline constexpr int IDS_AUTH_TIP_KEPT = 375;                // %1: when, %2: how it ended
inline constexpr int IDS_STATUS_PORTS = 376;                 // %1: HTTP port, %2: HTTPS port
inline constexpr int IDS_STATUS_PORT_NO_TLS = 377;  // %1: HTTP port, %2: why HTTPS is not served
inline constexpr int IDS_STATUS_PORT_TLS_OFF = 378; // %1: HTTP port
inline constexpr int IDS_STATUS_SEARCHING = 379;
// The System list's optional columns (and the model, which only its filter reads), and the
// access dialog's count of ticked arrays.
inline constexpr int IDS_COL_VENDOR = 351;
inline constexpr int IDS_COL_TYPE = 352;
inline constexpr int IDS_COL_LAST_SEEN = 353;
inline constexpr int IDS_COL_MODEL = 354;
inline constexpr int IDS_ACCESS_TICKED = 355;     // %1: ticked, %2: all rows
inline constexpr int IDS_ACCESS_TICKED_ONE = 356; // %1: ticked of the one row
inline constexpr int IDS_FILTER_HINT_SYSTEM = 357;
// A group's directory groups: why a DN is refused, the dialog's line and its hint.
inline constexpr int IDS_DN_EMPTY = 390;
inline constexpr int IDS_DN_TOO_LONG = 391;            // %1: the most characters a DN may have
inline constexpr int IDS_DN_CONTROL = 392;             // %1: the DN, escaped
inline constexpr int IDS_DN_NOT_ATTRIBUTE_VALUE = 393; // %1: the DN, escaped
inline constexpr int IDS_DIRECTORY_GROUPS_LINE = 394;  // %1: line number, %2: why
inline constexpr int IDS_DIRECTORY_GROUPS_HINT = 395;
