// Resource and control ids shared by the resource script and the windows.
#pragma once

#define IDD_MAIN 102
#define IDI_LARKSPOOL 128
#define IDD_PASSWORD 129
#define IDD_PROGRESS 130
#define IDB_BROWSE 132
#define IDD_OVERWRITE 134
// The browse picture drawn again for 125, 150 and 200 % displays.
#define IDB_BROWSE_125 140
#define IDB_BROWSE_150 141
#define IDB_BROWSE_200 142
#define IDD_CONTENTS 143

#define IDC_BACKUP_FILE 1000
#define IDC_BROWSE_FILE 1001
#define IDC_FOLDER 1002
#define IDC_BROWSE_FOLDER 1003
#define IDC_EXTRACT 1004
#define IDC_PASSWORD 1005
#define IDC_FILE_LINE 1006
#define IDC_DATE_LINE 1007
#define IDC_ELAPSED 1008
#define IDC_BAR 1009
#define IDC_PERCENT 1010
#define IDC_OVERWRITE_CANCEL 1011
#define IDC_YES_TO_ALL 1013
#define IDC_FILE_NAME 1014

// The contents window.
#define IDC_FILTER_LABEL 1020
#define IDC_FILTER 1021
#define IDC_LIST_LABEL 1022
#define IDC_LIST 1023
#define IDC_DAMAGE 1024
#define IDC_PLAY 1025
#define IDC_POSITION_LABEL 1026
#define IDC_POSITION 1027
#define IDC_TIME 1028
#define IDC_STATUS 1029
#define IDC_EXTRACT_SELECTED 1030
#define IDC_EXTRACT_ALL 1031
#define IDC_VERIFY 1032

// The main window's system menu item that opens the contents window (a
// system command: below 0xF000, its low four bits clear).
#define IDM_CONTENTS 0x0110
