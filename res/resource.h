// Resource and control ids shared by vexhold.rc and the program.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAPPING_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_MAPPING_EDIT 129
#define IDC_LINK_CURSOR 137

// Main window
#define IDC_ADD_MAPPING 1000
#define IDC_MODIFY_MAPPING 1001
#define IDC_DELETE_MAPPING 1002
#define IDC_START_MAPPING 1003
#define IDC_STOP_MAPPING 1004
#define IDC_MAPPING_LIST 1006
#define IDC_LINK 1020

// Editor
#define IDC_LOCAL_PORT 1007
#define IDC_REMOTE_PORT 1009
#define IDC_REMOTE_IP 1013

// System menu item of the about box
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
