#include "app/status_code_table.h"

// Columns: code, category, dialog kind, severity, level, text id, detail text
// id, printer picture; the comment is the English text of the text id. The
// paper family from 41000 to 41077 repeats at +200 and +300.
// clang-format off
const StatusCodeEntry kStatusCodeTable[kStatusCodeCount] = {
    {10001,     1,     1,     0,    50,  7198,     0,     0},  // Ready
    {10003,     1,     1,     0,    50,  7200,     0,     0},  // Initializing
    {10023,     1,     1,     0,    50,  7199,     0,     0},  // Printing
    {10031,     1,     0,     0,    50,  7205,     0,     0},  // Cleaning in Progress
    {10037,     1,     2,     1,    75,  7199,  7817,     0},  // Printing
    {10035,     1,     0,     0,    50,  7438,     0,     0},  // Calibrating
    {30096,     1,     2,     1,    75,  7265,  7544,     0},  // Unexpected Paper Size
    {40020,     1,     2,     2,    75,  7267,  7567,     0},  // Rear Access Door Open
    {40021,     1,     2,     2,    75,  7268,  7568,     0},  // Clamshell Open
    {41101,     1,     4,     1,    75,  7269,  7569, 10002},  // instruction text
    {40122,     1,     4,     1,    75,  7271,  7571, 10001},  // instruction text
    {40123,     1,     4,     1,    75,  7271,  7571, 10001},  // instruction text
    {40124,     1,     4,     1,    75,  7271,  7571, 10001},  // instruction text
    {40125,     1,     4,     1,    75,  7271,  7571, 10001},  // instruction text
    {10040,     1,     2,     1,    50,  7457,  7907,     0},  // Cleaning in Progress
    {11000,     1,     2,     1,    75,  7280,  7580,     0},  // Printer is Tilted
    {11001,     1,     2,     2,    75,  7281,  7581,     0},  // Excessive Tilt Error
    {11010,     1,     2,     2,    75,  7290,  7590,     0},  // Waste ink container almost full. Contact service.
    {11011,     1,     2,     3,    75,  7291,  7591,     0},  // Waste ink container full. Contact service.
    {42000,     1,     2,     2,    75,  7450,  7900,     0},  // Paper Jam
    {42001,     1,     2,     2,    75,  7455,  7905,     0},  // Paper Jam
    {42002,     1,     2,     2,    75,  7452,  7902,     0},  // Paper Jam in the Manual Feed
    {42003,     1,     2,     2,    75,  7455,  7905,     0},  // Paper Jam
    {42005,     1,     2,     2,    75,  7455,  7905,     0},  // Paper Jam
    {42006,     1,     2,     2,    75,  7455,  7905,     0},  // Paper Jam
    {42007,     1,     2,     2,    75,  7456,  7906,     0},  // Mechanical Jam
    {41000,     1,     2,     2,    75,  7399,  7699,     0},  // Load Paper
    {41002,     1,     2,     2,    75,  7400,  7700,     0},  // Load Letter Paper
    {41003,     1,     2,     2,    75,  7401,  7700,     0},  // Load Legal Paper
    {41004,     1,     2,     2,    75,  7402,  7700,     0},  // Load A4 Paper
    {41005,     1,     2,     2,    75,  7403,  7700,     0},  // Load Executive Paper
    {41007,     1,     2,     2,    75,  7404,  7700,     0},  // Load A3 Paper
    {41008,     1,     2,     2,    75,  7405,  7700,     0},  // Load Envelope #10 Paper
    {41009,     1,     2,     2,    75,  7406,  7700,     0},  // Load Envelope Monarch Paper
    {41010,     1,     2,     2,    75,  7407,  7700,     0},  // Load Envelope C5 Paper
    {41011,     1,     2,     2,    75,  7408,  7700,     0},  // Load Envelope DL Paper
    {41012,     1,     2,     2,    75,  7409,  7700,     0},  // Load B4 (JIS) Paper
    {41013,     1,     2,     2,    75,  7410,  7700,     0},  // Load B5 (JIS) Paper
    {41014,     1,     2,     2,    75,  7411,  7700,     0},  // Load Envelope B5 Paper
    {41016,     1,     2,     2,    75,  7412,  7700,     0},  // Load Japanese Postcard Paper
    {41017,     1,     2,     2,    75,  7413,  7700,     0},  // Load Double Japan Postcard Rotated Paper
    {41018,     1,     2,     2,    75,  7414,  7700,     0},  // Load A5 Paper
    {41024,     1,     2,     2,    75,  7415,  7700,     0},  // Load A6 Paper
    {41025,     1,     2,     2,    75,  7416,  7700,     0},  // Load B6 (ISO) Paper
    {41031,     1,     2,     2,    75,  7417,  7700,     0},  // Load B5 (ISO) Paper
    {41032,     1,     2,     2,    75,  7418,  7700,     0},  // Load 16K 195x270 mm Paper
    {41033,     1,     2,     2,    75,  7419,  7700,     0},  // Load 16K 184x260 mm Paper
    {41034,     1,     2,     2,    75,  7420,  7700,     0},  // Load 8.5x13 (Custom) Paper
    {41040,     1,     2,     2,    75,  7421,  7700,     0},  // Load 16K 775x1075 mm Paper
    {41041,     1,     2,     2,    75,  7412,  7700,     0},  // Load Japanese Postcard Paper
    {41045,     1,     2,     2,    75,  7413,  7700,     0},  // Load Double Japan Postcard Rotated Paper
    {41074,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41075,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41076,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41077,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41200,     1,     2,     2,    75,  7399,  7699,     0},  // Load Paper
    {41202,     1,     2,     2,    75,  7400,  7700,     0},  // Load Letter Paper
    {41203,     1,     2,     2,    75,  7401,  7700,     0},  // Load Legal Paper
    {41204,     1,     2,     2,    75,  7402,  7700,     0},  // Load A4 Paper
    {41205,     1,     2,     2,    75,  7403,  7700,     0},  // Load Executive Paper
    {41207,     1,     2,     2,    75,  7404,  7700,     0},  // Load A3 Paper
    {41208,     1,     2,     2,    75,  7405,  7700,     0},  // Load Envelope #10 Paper
    {41209,     1,     2,     2,    75,  7406,  7700,     0},  // Load Envelope Monarch Paper
    {41210,     1,     2,     2,    75,  7407,  7700,     0},  // Load Envelope C5 Paper
    {41211,     1,     2,     2,    75,  7408,  7700,     0},  // Load Envelope DL Paper
    {41212,     1,     2,     2,    75,  7409,  7700,     0},  // Load B4 (JIS) Paper
    {41213,     1,     2,     2,    75,  7410,  7700,     0},  // Load B5 (JIS) Paper
    {41214,     1,     2,     2,    75,  7411,  7700,     0},  // Load Envelope B5 Paper
    {41216,     1,     2,     2,    75,  7412,  7700,     0},  // Load Japanese Postcard Paper
    {41217,     1,     2,     2,    75,  7413,  7700,     0},  // Load Double Japan Postcard Rotated Paper
    {41218,     1,     2,     2,    75,  7414,  7700,     0},  // Load A5 Paper
    {41224,     1,     2,     2,    75,  7415,  7700,     0},  // Load A6 Paper
    {41225,     1,     2,     2,    75,  7416,  7700,     0},  // Load B6 (ISO) Paper
    {41231,     1,     2,     2,    75,  7417,  7700,     0},  // Load B5 (ISO) Paper
    {41232,     1,     2,     2,    75,  7418,  7700,     0},  // Load 16K 195x270 mm Paper
    {41233,     1,     2,     2,    75,  7419,  7700,     0},  // Load 16K 184x260 mm Paper
    {41234,     1,     2,     2,    75,  7420,  7700,     0},  // Load 8.5x13 (Custom) Paper
    {41240,     1,     2,     2,    75,  7421,  7700,     0},  // Load 16K 775x1075 mm Paper
    {41241,     1,     2,     2,    75,  7412,  7700,     0},  // Load Japanese Postcard Paper
    {41245,     1,     2,     2,    75,  7413,  7700,     0},  // Load Double Japan Postcard Rotated Paper
    {41274,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41275,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41276,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41277,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41300,     1,     2,     2,    75,  7399,  7699,     0},  // Load Paper
    {41302,     1,     2,     2,    75,  7400,  7700,     0},  // Load Letter Paper
    {41303,     1,     2,     2,    75,  7401,  7700,     0},  // Load Legal Paper
    {41304,     1,     2,     2,    75,  7402,  7700,     0},  // Load A4 Paper
    {41305,     1,     2,     2,    75,  7403,  7700,     0},  // Load Executive Paper
    {41307,     1,     2,     2,    75,  7404,  7700,     0},  // Load A3 Paper
    {41308,     1,     2,     2,    75,  7405,  7700,     0},  // Load Envelope #10 Paper
    {41309,     1,     2,     2,    75,  7406,  7700,     0},  // Load Envelope Monarch Paper
    {41310,     1,     2,     2,    75,  7407,  7700,     0},  // Load Envelope C5 Paper
    {41311,     1,     2,     2,    75,  7408,  7700,     0},  // Load Envelope DL Paper
    {41312,     1,     2,     2,    75,  7409,  7700,     0},  // Load B4 (JIS) Paper
    {41313,     1,     2,     2,    75,  7410,  7700,     0},  // Load B5 (JIS) Paper
    {41314,     1,     2,     2,    75,  7411,  7700,     0},  // Load Envelope B5 Paper
    {41316,     1,     2,     2,    75,  7412,  7700,     0},  // Load Japanese Postcard Paper
    {41317,     1,     2,     2,    75,  7413,  7700,     0},  // Load Double Japan Postcard Rotated Paper
    {41318,     1,     2,     2,    75,  7414,  7700,     0},  // Load A5 Paper
    {41324,     1,     2,     2,    75,  7415,  7700,     0},  // Load A6 Paper
    {41325,     1,     2,     2,    75,  7416,  7700,     0},  // Load B6 (ISO) Paper
    {41331,     1,     2,     2,    75,  7417,  7700,     0},  // Load B5 (ISO) Paper
    {41332,     1,     2,     2,    75,  7418,  7700,     0},  // Load 16K 195x270 mm Paper
    {41333,     1,     2,     2,    75,  7419,  7700,     0},  // Load 16K 184x260 mm Paper
    {41334,     1,     2,     2,    75,  7420,  7700,     0},  // Load 8.5x13 (Custom) Paper
    {41340,     1,     2,     2,    75,  7421,  7700,     0},  // Load 16K 775x1075 mm Paper
    {41341,     1,     2,     2,    75,  7412,  7700,     0},  // Load Japanese Postcard Paper
    {41345,     1,     2,     2,    75,  7413,  7700,     0},  // Load Double Japan Postcard Rotated Paper
    {41374,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41375,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41376,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41377,     1,     2,     2,    75,  7399,  7700,     0},  // Load Paper
    {41900,     1,     2,     2,    75,  7399,  7699,     0},  // Load Paper
    {10209,     2,     2,     2,    75,  7206,  7507,     0},  // Black Ink Low
    {10210,     2,     2,     2,    75,  7207,  7507,     0},  // Cyan Ink Low
    {10211,     2,     2,     2,    75,  7208,  7507,     0},  // Magenta Ink Low
    {10212,     2,     2,     2,    75,  7209,  7507,     0},  // Yellow Ink Low
    {10214,     2,     2,     2,    75,  7211,  7507,     0},  // Infrared Ink Low
    {10215,     2,     2,     2,    75,  7212,  7507,     0},  // Black Ink Tank 1 Low
    {10216,     2,     2,     2,    75,  7213,  7507,     0},  // Black Ink Tank 2 Low
    {10217,     2,     2,     2,    75,  7210,  7507,     0},  // Multiple Inks Low
    {10300,     2,     2,     2,    75,  7214,  7514,     0},  // Black Ink Out
    {10301,     2,     2,     2,    75,  7215,  7514,     0},  // Cyan Ink Out
    {10302,     2,     2,     2,    75,  7216,  7514,     0},  // Magenta Ink Out
    {10303,     2,     2,     2,    75,  7217,  7514,     0},  // Yellow Ink Out
    {10304,     2,     2,     2,    75,  7219,  7514,     0},  // Infrared Ink Out
    {10305,     2,     2,     2,    75,  7220,  7514,     0},  // Black Ink Tank 1 Out
    {10306,     2,     2,     2,    75,  7221,  7514,     0},  // Black Ink Tank 2 Out
    {10307,     2,     2,     2,    75,  7218,  7514,     0},  // Multiple Ink Tanks Out
    {40610,     2,     2,     1,    75,  7060,  7881,     0},  // USED Cyan Ink Tank Installed
    {40614,     2,     2,     1,    75,  7061,  7881,     0},  // USED Yellow Ink Tank Installed
    {40612,     2,     2,     1,    75,  7062,  7881,     0},  // USED Magenta Ink Tank Installed
    {40608,     2,     2,     1,    75,  7059,  7881,     0},  // USED Black Ink Tank Installed
    {40615,     2,     2,     1,    75,  7063,  7881,     0},  // USED Infrared Ink Tank Installed
    {40601,     2,     2,     2,    75,  7274,  7574,     0},  // The Cyan ink tank is defective, missing, or not seated correctly.
    {40603,     2,     2,     2,    75,  7276,  7574,     0},  // The Yellow ink tank is defective, missing, or not seated correctly.
    {40602,     2,     2,     2,    75,  7275,  7574,     0},  // The Magenta ink tank is defective, missing, or not seated correctly.
    {40600,     2,     2,     2,    75,  7273,  7574,     0},  // The Black ink tank is defective, missing, or not seated correctly.
    {40605,     2,     2,     2,    75,  7278,  7574,     0},  // The Infrared ink tank is defective, missing, or not seated correctly.
    {40604,     2,     2,     2,    75,  7277,  7574,     0},  // Multiple ink tanks are defective, missing, or not seated correctly.
    {10504,     2,     2,     1,    75,  7227,  7530,     0},  // Incorrect Cyan Ink Tank
    {10505,     2,     2,     1,    75,  7228,  7530,     0},  // Incorrect Yellow Ink Tank
    {10506,     2,     2,     1,    75,  7229,  7530,     0},  // Incorrect Magenta Ink Tank
    {10507,     2,     2,     1,    75,  7230,  7530,     0},  // Incorrect Black Ink Tank
    {10514,     2,     2,     1,    75,  7231,  7530,     0},  // Incorrect Infrared Ink Tank
    {10508,     2,     2,     2,    75,  7232,  7531,     0},  // Unauthorized Cyan Ink Tank Installed
    {10509,     2,     2,     2,    75,  7233,  7531,     0},  // Unauthorized Yellow Ink Tank Installed
    {10510,     2,     2,     2,    75,  7234,  7531,     0},  // Unauthorized Magenta Ink Tank Installed
    {10511,     2,     2,     2,    75,  7235,  7531,     0},  // Unauthorized Black Ink Tank Installed
    {10516,     2,     2,     2,    75,  7238,  7531,     0},  // Unauthorized Black Ink Tank 1 Installed
    {10517,     2,     2,     2,    75,  7239,  7531,     0},  // Unauthorized Black Ink Tank 2 Installed
    {10513,     2,     2,     2,    75,  7237,  7531,     0},  // Unauthorized Infrared Ink Tank Installed
    {10512,     2,     2,     2,    75,  7236,  7531,     0},  // Multiple Unauthorized Ink Tanks Installed
    {10603,     2,     2,     2,    75,  7440,  7890,     0},  // Incompatible Printhead
    {10601,     2,     2,     2,    75,  7441,  7891,     0},  // Missing Printhead
    {10600,     2,     2,     2,    75,  7442,  7892,     0},  // Unauthorized Printhead
    {10604,     2,     2,     2,    75,  7443,  7893,     0},  // Printhead Error
    {10605,     2,     2,     2,    75,  7443,  7893,     0},  // Printhead Error
    {10606,     2,     2,     2,    75,  7443,  7893,     0},  // Printhead Error
};
// clang-format on

const StatusCodeEntry* findStatusEntry(std::uint32_t code) {
  for (const StatusCodeEntry& entry : kStatusCodeTable) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

bool isKnownStatus(std::uint32_t code) { return findStatusEntry(code) != nullptr; }
