#pragma once
#define IDD_IDENTITY 101
#define IDC_EMAIL 1001
#define IDC_NAME 1002
