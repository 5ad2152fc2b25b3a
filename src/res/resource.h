#pragma once
// Resource ids of the module.

// Icons of the ribbon menus' entries (16 pixels).
#define IDI_RIBBON_BUDDIES 303
#define IDI_RIBBON_MANAGE 304
#define IDI_RIBBON_OPTIONS 305
#define IDI_RIBBON_HELP 306
#define IDI_RIBBON_INVITE 307
#define IDI_RIBBON_SIGN 310
#define IDI_RIBBON_SIGNATURE_LINE 313
#define IDI_RIBBON_SEAL 314
#define IDI_RIBBON_REQUEST_CERT 315
#define IDI_RIBBON_BATCH_INVITE 316
#define IDI_RIBBON_SIGN_DOCUMENT 317
#define IDI_RIBBON_ENCRYPT 318
#define IDI_RIBBON_REMOVE_ENCRYPTION 319

// Registration scripts (type "REGISTRY").
#define IDR_FORMREGIONADDIN 601
#define IDR_COMPOSERIBBON 604
#define IDR_LAUNCHER 616
#define IDR_SIGNATUREPROVIDER 617
#define IDR_ENCRYPTIONPROVIDER 618
#define IDR_DOCUMENTRIBBON 619
#define IDR_SMIMEPOLICY 684

#define IDR_ISOLATION_MANIFEST 2

// Ribbon documents (RT_RCDATA, single-byte text).
#define IDR_RIBBON_COMPOSE 602
#define IDR_RIBBON_EXPLORER 607
#define IDR_RIBBON_DOCUMENT 608

// The form region's manifest (single-byte XML, "%ls" for the region's name) and its layout (a
// Forms 2.0 form in a compound file), RT_RCDATA.
#define IDR_FORMREGION_MANIFEST 603
#define IDR_FORMREGION_STORAGE 605

// The DER S/MIME capabilities offered in every security profile (RT_RCDATA).
#define IDR_SMIME_CAPABILITIES 606
