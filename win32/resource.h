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
