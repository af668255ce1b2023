// Resource and control ids, shared by the resource script and the code.
#ifndef SFX_RESOURCE_H
#define SFX_RESOURCE_H

// Main dialog (MAINDIALOG)
#define IDC_FOLDER_LABEL 100
#define IDC_FOLDER 101
#define IDC_LIST_SORTED 301
#define IDC_LIST_UNSORTED 303
#define IDC_OVERWRITE_ALL 501
#define IDC_OVERWRITE_NEVER 502
#define IDC_OVERWRITE_ASK 503
#define IDC_OVERWRITE_GROUP 509
#define IDC_STATUS 601
#define IDC_BROWSE 775
#define IDC_RUN 1007

// Prompts (FILEEXIST, PASSWD)
#define IDC_PROMPT_TEXT 101
#define IDC_DONT_ASK 401

// Folder selection (DLGSEL) and new folder (DLGNEW)
#define IDC_SEL_LABEL 2000
#define IDC_SEL_PATH 2001
#define IDC_SEL_NETWORK 2002
#define IDC_SEL_LIST 2003
#define IDC_SEL_NEW 2004
#define IDC_NEW_PATH 3001
#define IDC_NEW_NAME 3002

#endif
