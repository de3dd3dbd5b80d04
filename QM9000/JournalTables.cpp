// Declared in JournalTables9000.h: the name JournalTables.h is QMCommon's.
// Burst read map: which journal value each word of the chip's measurement burst
// feeds, and the register catalogue row whose conversion code applies to it.
#include "JournalTables9000.h"

// One row per burst word, in burst order: 19 words per phase (A, B, C), then the
// four neutral words. The power-quality factor words (the first two of each phase
// and the first neutral word) are not journalled; words 61 and 62 lie beyond the
// 61-word burst. Frequencies, angles and totals are filled elsewhere.
const BURST_READ_MAP_RECORD g_mrBurstReadMap[BURST_READ_MAP_ROWS] = {
    /*  0 */ {jrnl_NONE, BURST_MAP_NONE},
    /*  1 */ {jrnl_NONE, BURST_MAP_NONE},
    /*  2 */ {jrnl_IRMS_A, 97},       // AIRMS 0x20C
    /*  3 */ {jrnl_VRMS_A, 98},       // AVRMS 0x20D
    /*  4 */ {jrnl_WATT_A, 101},      // AWATT 0x210
    /*  5 */ {jrnl_VA_A, 103},        // AVA 0x212
    /*  6 */ {jrnl_VAR_A, 102},       // AVAR 0x211
    /*  7 */ {jrnl_FVAR_A, 105},      // AFVAR 0x214
    /*  8 */ {jrnl_PF_A, 107},        // APF 0x216
    /*  9 */ {jrnl_VTHD_A, 108},      // AVTHD 0x217
    /* 10 */ {jrnl_ITHD_A, 109},      // AITHD 0x218
    /* 11 */ {jrnl_FWATT_A, 104},     // AFWATT 0x213
    /* 12 */ {jrnl_FVA_A, 106},       // AFVA 0x215
    /* 13 */ {jrnl_FIRMS_A, 99},      // AIFRMS 0x20E
    /* 14 */ {jrnl_FVRMS_A, 100},     // AVFRMS 0x20F
    /* 15 */ {jrnl_IRMS1_A, 110},     // AIRMSONE 0x219
    /* 16 */ {jrnl_VRMS1_A, 111},     // AVRMSONE 0x21A
    /* 17 */ {jrnl_IRMS1012_A, 112},  // AIRMS1012 0x21B
    /* 18 */ {jrnl_VRMS1012_A, 113},  // AVRMS1012 0x21C
    /* 19 */ {jrnl_NONE, BURST_MAP_NONE},
    /* 20 */ {jrnl_NONE, BURST_MAP_NONE},
    /* 21 */ {jrnl_IRMS_B, 117},      // BIRMS 0x22C
    /* 22 */ {jrnl_VRMS_B, 118},      // BVRMS 0x22D
    /* 23 */ {jrnl_WATT_B, 121},      // BWATT 0x230
    /* 24 */ {jrnl_VA_B, 123},        // BVA 0x232
    /* 25 */ {jrnl_VAR_B, 122},       // BVAR 0x231
    /* 26 */ {jrnl_FVAR_B, 125},      // BFVAR 0x234
    /* 27 */ {jrnl_PF_B, 127},        // BPF 0x236
    /* 28 */ {jrnl_VTHD_B, 128},      // BVTHD 0x237
    /* 29 */ {jrnl_ITHD_B, 129},      // BITHD 0x238
    /* 30 */ {jrnl_FWATT_B, 124},     // BFWATT 0x233
    /* 31 */ {jrnl_FVA_B, 126},       // BFVA 0x235
    /* 32 */ {jrnl_FIRMS_B, 119},     // BIFRMS 0x22E
    /* 33 */ {jrnl_FVRMS_B, 120},     // BVFRMS 0x22F
    /* 34 */ {jrnl_IRMS1_B, 130},     // BIRMSONE 0x239
    /* 35 */ {jrnl_VRMS1_B, 131},     // BVRMSONE 0x23A
    /* 36 */ {jrnl_IRMS1012_B, 132},  // BIRMS1012 0x23B
    /* 37 */ {jrnl_VRMS1012_B, 133},  // BVRMS1012 0x23C
    /* 38 */ {jrnl_NONE, BURST_MAP_NONE},
    /* 39 */ {jrnl_NONE, BURST_MAP_NONE},
    /* 40 */ {jrnl_IRMS_C, 137},      // CIRMS 0x24C
    /* 41 */ {jrnl_VRMS_C, 138},      // CVRMS 0x24D
    /* 42 */ {jrnl_WATT_C, 141},      // CWATT 0x250
    /* 43 */ {jrnl_VA_C, 143},        // CVA 0x252
    /* 44 */ {jrnl_VAR_C, 142},       // CVAR 0x251
    /* 45 */ {jrnl_FVAR_C, 145},      // CFVAR 0x254
    /* 46 */ {jrnl_PF_C, 147},        // CPF 0x256
    /* 47 */ {jrnl_VTHD_C, 148},      // CVTHD 0x257
    /* 48 */ {jrnl_ITHD_C, 149},      // CITHD 0x258
    /* 49 */ {jrnl_FWATT_C, 144},     // CFWATT 0x253
    /* 50 */ {jrnl_FVA_C, 146},       // CFVA 0x255
    /* 51 */ {jrnl_FIRMS_C, 139},     // CIFRMS 0x24E
    /* 52 */ {jrnl_FVRMS_C, 140},     // CVFRMS 0x24F
    /* 53 */ {jrnl_IRMS1_C, 150},     // CIRMSONE 0x259
    /* 54 */ {jrnl_VRMS1_C, 151},     // CVRMSONE 0x25A
    /* 55 */ {jrnl_IRMS1012_C, 152},  // CIRMS1012 0x25B
    /* 56 */ {jrnl_VRMS1012_C, 153},  // CVRMS1012 0x25C
    /* 57 */ {jrnl_NONE, BURST_MAP_NONE},
    /* 58 */ {jrnl_NIRMS, 156},      // NIRMS 0x266
    /* 59 */ {jrnl_NIRMSONE, 157},   // NIRMSONE 0x267
    /* 60 */ {jrnl_NIRMS1012, 158},  // NIRMS1012 0x268
    /* 61 */ {jrnl_NONE, BURST_MAP_NONE},
    /* 62 */ {jrnl_NONE, BURST_MAP_NONE},
};
