#pragma once
// Dialog and page templates of the module's satellite resource modules, their control ids,
// and the images of the main module that their icon controls show. Read by resource
// scripts too: #define only.

// Templates.
#define IDD_EMAIL_OPTIONS 101
#define IDD_DOCUMENT_OPTIONS 102
#define IDD_SELECT_BUDDY 103
#define IDD_INVITE_INSTRUCTIONS 104
#define IDD_ENCRYPTION_DETAILS 105
#define IDD_SIGNATURE_DETAILS 106
#define IDD_PAGE_INVITE_SELECTION 107
#define IDD_PAGE_CERTIFICATE_BACKUP 108
#define IDD_PAGE_INVITATION_COMPLETE 109
#define IDD_PAGE_CERT_SUCCESS 111
#define IDD_SIGNATURE_SETUP 113
#define IDD_WAIT_OUTLOOK 114

// Icons of the main module (VmOfcX.dll).
#define IDI_CONTACTS 104
#define IDI_CERTIFICATE 105
#define IDI_OPTIONS 106

// Controls. Several ids serve different controls in different templates.
#define IDC_EMAIL_SIGN 201
#define IDC_EMAIL_SEAL 202
#define IDC_EMAIL_ADVERT 203
#define IDC_CAPTION_1 204
#define IDC_CAPTION_2 205
#define IDC_RECIPIENT_LIST 206
#define IDC_SIGNER 208
#define IDC_SIGNING_TIME 209
#define IDC_HASH_ALGORITHM 210
#define IDC_KEY_ALGORITHM 211
#define IDC_VIEW_CERTIFICATE 212
#define IDC_SIGNATURE_STATUS 213
#define IDC_TITLE_LABEL 214
#define IDC_SIGNER_LABEL 215
#define IDC_LANGUAGE 216
#define IDC_TIME_LABEL 217
#define IDC_INVITE_LIST 218
#define IDC_HASH_LABEL 219
#define IDC_SELECT_ALL 220
#define IDC_KEY_LABEL 221
#define IDC_SELECT_NONE 222
#define IDC_COMMENT_LABEL 223
#define IDC_PAGE_CAPTION 224
#define IDC_DETAILS_CAPTION 225
#define IDC_STATUS_LABEL 226
#define IDC_SIGNATURE_CAPTION 227
#define IDC_OPTIONS_ICON 228
#define IDC_SIGNATURE_ICON 229
#define IDC_COMMENT 230
#define IDC_MAKE_DEFAULT 231
#define IDC_COMPLETE_CAPTION_1 233
#define IDC_COMPLETE_CAPTION_2 234
#define IDC_BACKUP_PATH 235
#define IDC_BROWSE 237
#define IDC_SHOW_SIGN_DATE 238
#define IDC_PASSWORD_CONFIRM 239
#define IDC_PASSWORD 240
#define IDC_SIGNING_INSTRUCTIONS 250
#define IDC_USE_SIGNER_TITLE 251
#define IDC_SIGNER_TITLE 252
#define IDC_SUGGESTED_SIGNER 253
#define IDC_DOCUMENT_SIGN 254
#define IDC_DOCUMENT_ENCRYPT 255
#define IDC_SHOW_PUBLISHED IDC_DOCUMENT_ENCRYPT
#define IDC_SIGNATURE_LINES 256
#define IDC_ADD_TITLE 257
#define IDC_PROMPT IDC_ADD_TITLE
#define IDC_COMPLETE_TEXT 258
#define IDC_ADD_PUBLISHED 1004
#define IDC_LIST_ICON 1006
#define IDC_LIST_ICON_2 1007
#define IDC_WAIT_PROGRESS 1008

// Tooltips: the tooltip of control C of template T is string IDS_TOOLTIP(T, C), a block of
// 2000 strings per template from 32000 on (template 101) up to 56000 (template 113). Control
// ids that have one stay below IDS_TOOLTIP_CONTROLS.
#define IDS_TOOLTIP_CONTROLS 2000
#define IDS_TOOLTIP(T, C) (30000 + IDS_TOOLTIP_CONTROLS * ((T) - 100) + (C))
