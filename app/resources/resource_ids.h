// Ids of the program's resources, shared by the resource script and the code
// that loads them. Plain macros so that the resource compiler reads them too.
#ifndef APP_RESOURCES_RESOURCE_IDS_H_
#define APP_RESOURCES_RESOURCE_IDS_H_

// Dialog templates.
#define IDD_STATUS_DETAILED 115      // alert with frames, printer picture and links
#define IDD_STATUS_NOTIFICATION 501  // small notification in the work area's corner
#define IDD_STATUS_INLINE 504        // alert with an inline picture in its message
#define IDD_STATUS_INLINE_TALL 505   // the same with a taller message

// Controls of the templates.
#define IDC_STATUS_ICON 2035
#define IDC_MESSAGE 2037
#define IDC_PRINTER_PICTURE 1045
#define IDC_STATUS_FRAME 1039
#define IDC_ACTION_FRAME 1040
#define IDC_HELP_LINK 1041
#define IDC_TOOLBOX_LINK 1042
#define IDC_MANUAL_LINK 1043
#define IDC_INLINE_PICTURE 2148

// Bitmaps.
#define IDB_CHECK_MARK 116
#define IDB_WARNING 309
#define IDB_ERROR 314
#define IDB_LOAD_MEDIA 10001
#define IDB_FRONT_FEEDER 10002
#define IDB_TRAY_MEDIA 10003
#define IDB_TRAY_MEDIA_ALT 10004
#define IDB_DUPLEX_STEPS 10005
#define IDB_DUPLEX_STEPS_ALT 10006

// The program file's icon.
#define IDI_PROGRAM 200

#endif  // APP_RESOURCES_RESOURCE_IDS_H_
