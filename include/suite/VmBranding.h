#pragma once
// Resource ids of the suite's branding DLL, a resource-only DLL named by "DLLPath" of
// HKLM\SOFTWARE\Velmora\Applications\Tessaly\Branding (else of ...\Velmora\Branding\Common).
// Also read by resource scripts: #define only.

// Brand strings. Each also replaces its token ("<<%PN%>>" and so on) in the module's strings.
#define IDS_BRAND_SHORT_PRODUCT 101   // "<<%SP%>>", the product's name where Office shows a name
#define IDS_BRAND_BRAND 102           // "<<%BR%>>"
#define IDS_BRAND_PRODUCT 103         // "<<%PN%>>"
#define IDS_BRAND_PRODUCT_FAMILY 104  // "<<%PF%>>"
#define IDS_BRAND_COPYRIGHT 105
#define IDS_BRAND_URL_DOWNLOAD 106  // "<<%UD%>>"
#define IDS_BRAND_URL_FAQ 107       // "<<%UF%>>"
#define IDS_BRAND_URL_ACCOUNT 108   // "<<%UA%>>"
// The product's name under HKLM\SOFTWARE\Velmora\Products, whose "Version" the usage report gives.
#define IDS_BRAND_VERSION_PRODUCT 1102

// The product's button icon, 16 and 32 pixels.
#define IDI_BRAND_BUTTON 106

// Bitmaps: the wizard header, the form region image and the signature line backgrounds.
#define IDB_BRAND_WIZARD_HEADER 102
#define IDB_BRAND_REGION 108
#define IDB_SIGLINE_SOFTWARE_REQUIRED 109
#define IDB_SIGLINE_UNSIGNED 110
#define IDB_SIGLINE_SIGNED_VALID 111
#define IDB_SIGLINE_SIGNED_INVALID 112
