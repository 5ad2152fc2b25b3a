#pragma once
// The property page that the suite's management libraries hand out: the certificates of one of
// the user's stores (name, e-mail address, end of validity), each viewable in the system's
// certificate viewer. Also read by the libraries' resource scripts: #define only.
#define IDD_CERT_PAGE 100
#define IDC_CERT_LIST 1001
#define IDC_VIEW_CERT 1002
#define IDS_COLUMN_NAME 101
#define IDS_COLUMN_EMAIL 102
#define IDS_COLUMN_VALID_UNTIL 103
