/* Resource identifiers shared by the resource scripts and the program. */
#pragma once

/* String catalogue */
#define IDS_DIRECTX_FAILED 2
#define IDS_INSTALL_GAME 3
#define IDS_INSTALL_CODEC 4
#define IDS_PLAY_GAME 5
#define IDS_EXIT 6
#define IDS_TITLE_INSTALL 7
#define IDS_TITLE_MENU 8
#define IDS_DIRECTX_CAPTION 10
#define IDS_DIRECTX_QUESTION 11
#define IDS_INSTALL_FAILURE_CAPTION 12
#define IDS_CODEC_QUESTION 13
#define IDS_CODEC_CAPTION 14
#define IDS_CODEC_FAILED 15
#define IDS_CODEC_INSTALLED 16

/* Icon, restart notice, version block */
#define IDI_APPLICATION_ICON 101
#define IDD_RESTART_NOTICE 103
#define IDV_VERSION 1
