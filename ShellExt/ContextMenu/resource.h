#pragma once
// Resource ids of the extension module. Every item text id N has its help text at N + 1.

#define IDB_MENU 201
// The menu picture as an icon drawn at 16, 20, 24 and 32 pixels on a transparent background.
#define IDI_MENU 202

#define IDS_SELECT_FIRST 1002
#define IDS_SELECT_FIRST_HELP 1003
#define IDS_COMPARE_TO_TEXT 1004
#define IDS_COMPARE_TO_TEXT_HELP 1005
#define IDS_COMPARE_TO_BINARY 1006
#define IDS_COMPARE_TO_BINARY_HELP 1007
#define IDS_COMPARE_OTHER_TEXT 1008
#define IDS_COMPARE_OTHER_TEXT_HELP 1009
#define IDS_COMPARE_OTHER_BINARY 1010
#define IDS_COMPARE_OTHER_BINARY_HELP 1011
#define IDS_RUN 1012
#define IDS_RUN_HELP 1013
#define IDS_COMPARE_PAIR_TEXT 1014
#define IDS_COMPARE_PAIR_TEXT_HELP 1015
#define IDS_COMPARE_PAIR_BINARY 1016
#define IDS_COMPARE_PAIR_BINARY_HELP 1017
