// Resource ids of kvupdate.exe.
#pragma once

#define IDR_MAINFRAME 128
#define IDR_TRAYMENU 129
#define IDD_UPDATE_DIALOG 102
#define IDI_TRAYICON 201

#define IDC_STATUS 2001
#define IDC_PROGRESS 2002

#define ID_TRAY_SHOWPROGRESS 2101
#define ID_TRAY_QUIT 2102
