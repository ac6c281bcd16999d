/* Identifiers shared by ostrakan.rc and the code. Plain #defines: windres reads
   this file too. */
#ifndef OSTRAKAN_RESOURCE_H
#define OSTRAKAN_RESOURCE_H

/* Resources */
#define IDS_APP_TITLE 103
#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_OSTRAKAN 107
#define IDI_SMALL 108
#define IDC_OSTRAKAN 109
#define IDC_ABOUT_ICON 2

/* Menu commands */
#define IDM_OPEN_PORT 32772
#define IDM_CLOSE_PORT 32773

/* Port area */
#define IDC_PORT_NAME 3000
#define IDC_PORT_STATUS 3004

/* Modem panel */
#define IDC_SETUP_STATUS 3002
#define IDC_QUERY_STATUS 3003
#define IDC_IP_ADDRESS 3021
#define IDC_APN 3022
#define IDC_USER 3023
#define IDC_PASSWORD 3027
#define IDC_MODEM_READ 3030
#define IDC_MODEM_WRITE 3031
#define IDC_WITHOUT_INTERNET 3032

/* Discrete channels: channel n (1..31) */
#define IDC_CHANNEL_A_BASE 3046  /* + n: 3047..3077 */
#define IDC_CHANNEL_T_BASE 3077  /* + n: 3078..3108 */
#define IDC_CHANNEL_BX_BASE 3108 /* + n: 3109..3139 */
#define IDC_CHANNEL_FIRST 3047
#define IDC_CHANNEL_LAST 3139
#define IDC_CHANNELS_READ 3154
#define IDC_CHANNELS_WRITE 3155

/* Parameter field k (0..4): edit 3139 + k, Read 3144 + k, Write 3149 + k.
   The edit of field 0 shares 3139 with channel 31's BX box. */
#define IDC_PARAMETER_EDIT_BASE 3139
#define IDC_PARAMETER_READ_BASE 3144
#define IDC_PARAMETER_WRITE_BASE 3149

#endif
