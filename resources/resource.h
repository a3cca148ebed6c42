// Ids of the resource library: dialog templates, the icon, the controls and the strings.
// Read by the application (C++) and by the resource compiler, so it holds #defines only.
#pragma once

// Dialog templates and the icon.
#define IDD_DOWNLOADER_DIALOG 102
#define IDD_CONFIG_PROXY 103
#define IDR_MAINFRAME 128

// Controls of the main dialog.
#define IDC_STATIC_TITLE 1000
#define IDC_STATIC_DESCRIPTION 1001
#define IDC_STATIC_PRODUCT 1002
#define IDC_COMBO_PRODUCT 1005
#define IDC_BUTTON_ACTION 1006
#define IDC_BUTTON_EXIT 1007
#define IDC_BUTTON_BROWSE 1008
#define IDC_STATIC_TIPS_TITLE 1010
#define IDC_STATIC_FAQ_TITLE 1011
#define IDC_LIST_GUIDE 1012
#define IDC_LIST_FAQ 1013
#define IDC_PROGRESS_DOWNLOAD 1014
#define IDC_STATIC_STATUS 1015
#define IDC_STATIC_PICTURE 1016
#define IDC_STATIC_PATH 1017
#define IDC_STATIC_PROXY_LINK 1018
#define IDC_CHECK_LAUNCH 1024

// Controls of the proxy dialog (besides IDOK and IDCANCEL).
#define IDC_CHECK_USE_PROXY 1019
#define IDC_EDIT_PROXY_HOST 1020
#define IDC_EDIT_PROXY_PORT 1021
#define IDC_EDIT_PROXY_USER 1022
#define IDC_EDIT_PROXY_PASSWORD 1023

// Strings. The comment gives the arguments of each format text.
#define IDS_DESCRIPTION 129
#define IDS_BUTTON_START 130
#define IDS_BUTTON_PAUSE 131
#define IDS_BUTTON_RESUME 132
#define IDS_PRODUCT_LABEL 133
#define IDS_BUTTON_EXIT 137
#define IDS_BUTTON_BROWSE 138
#define IDS_TITLE 139
#define IDS_PROXY_LINK 140
#define IDS_BUTTON_INSTALL 141
#define IDS_ASK_KEEP_DOWNLOAD 142
#define IDS_MSGBOX_CAPTION 143
#define IDS_ASK_CHANGE_PRODUCT 144
#define IDS_DISK_SPACE_LOW 145
#define IDS_MD5_MISMATCH 146
#define IDS_PROGRESS_FMT 147       // double MB written, double MB in total (may be numbered)
#define IDS_DOWNLOAD_VERIFIED 148
#define IDS_OPEN_FILE_FAILED 149
#define IDS_DOWNLOAD_FAILED 150    // %s: the URL
#define IDS_HTTP_STATUS_ERROR 151  // %d: the response code, %s: the first header line
#define IDS_PAUSED 152
#define IDS_ERROR_CAPTION 153
#define IDS_RESUME_WARNING 155     // %s: the URL
#define IDS_BUTTON_CLOSE 156
#define IDS_FILE_TOO_LARGE 157  // %s: the URL; the server file exceeds what a download can hold
#define IDS_LAUNCH_FAILED 165   // %s: the target path; the installer could not be started
#define IDS_FILE_NOT_OWN 166    // %s: the target path; another user's file, or one others may write
#define IDS_RESUME_WITHOUT_SIZE 170  // a resume's probe gave no size: the paused download stays
#define IDS_WORKER_STILL_ENDING 171  // the previous transfer run has not ended: no resume yet
#define IDS_START_WITHOUT_SIZE 180   // a start's probe gave no size: nothing starts
#define IDS_TARGET_FOLDER_MISSING 181  // %s: the target's folder, which does not exist
#define IDS_PROGRESS_NOT_SAVED 182   // the store refused the progress: an exit will not keep it
#define IDS_CURL_ERROR_UNKNOWN 1999  // %d: the transfer library's result code
#define IDS_CURL_ERROR_BASE 2000     // + result code 0 to 92
