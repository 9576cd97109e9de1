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
// Controls the dialog fills when a template has them; the program's
// templates have none of these.
#define IDC_MORE_LINK 1037                 // the "more..." link: asks for the detailed alert
#define IDC_PRINTER_LABEL 2147             // printer name, white on blue
#define IDC_BANNER 2167                    // white on blue
#define IDC_INLINE_PICTURE_REFERENCE 1046  // where the inline picture is measured from

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
// No bitmap has this id: a printer picture that stays empty.
#define IDB_NO_PRINTER_PICTURE 315

// String ids the code names (the tables carry them among the others).
#define IDS_MORE 215             // "more..."
#define IDS_TOOLBOX 217          // the toolbox link
#define IDS_MANUAL 218           // the user manual link
#define IDS_HELP 3001            // the help link
#define IDS_PRINTER_SERIES 3007  // the printer text
#define IDS_PRINTER_ALERT 3008   // caption of templates 501, 504 and 505

// The program file's icon.
#define IDI_PROGRAM 200

#endif  // APP_RESOURCES_RESOURCE_IDS_H_
