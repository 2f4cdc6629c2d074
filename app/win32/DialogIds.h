// Identifiers of the dialog resource and its controls, shared by the resource scripts and the
// code.
#pragma once

#define QV_IDD_REPAIR 100
#define QV_IDI_APP 1
#define QV_IDC_LABEL1 1001
#define QV_IDC_LABEL2 1002
#define QV_IDC_BUTTON1 1003
#define QV_IDC_BUTTON2 1004
