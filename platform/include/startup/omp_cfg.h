// omp_cfg.h - the readers of the platform configuration file "/qvx/omp/omp.cfg": an INI-like
// text of sections ("[NAV]" .. "[EndNAV]", "[QES]" .. "[EndQES]", "[HOB]" .. "[EndHOB]") holding
// lines of key, equals sign and value.
//
// Owns the bureau ids read from the three sections and the key "upmnum" (g_upm_ModuleNum).
// Called by start-up on the main thread before the control tasks exist; the globals are read
// by any thread afterwards. Every reader logs through the platform log (dropped while it is
// not open) and falls back to its default; none throws.
#pragma once

#include "VorlenTypes.h"

inline constexpr const char* CN_OMP_CFG_FILE = "/qvx/omp/omp.cfg";

// Value of key szAttrName inside section szCapBegName (closed by the line naming szCapEndName)
// of szFileName, when it lies within [nMinValue, nMaxValue]; else nDefaultValue.
SWORD32 CN_GetIntFromCfg(const char* szCapBegName, const char* szCapEndName, const char* szAttrName,
                         SWORD32 nDefaultValue, SWORD32 nMinValue, SWORD32 nMaxValue, const char* szFileName);

// Reads "bureau" of NAV, QES and HOB (default -1, range -1..1000) and returns how many gave a value.
int LoadOmpCfg();
int LoadOmpCfgFrom(const char* szFileName);

// Reads "upmnum" of QES (default -1, range -1..1000) into g_upm_ModuleNum; -1 gives 1. Returns 0.
int GetModuleCfg();
int GetModuleCfgFrom(const char* szFileName);
WORD16 CN_GetUpmModuleNum();

// Cuts trailing blanks in place; returns str.
char* CN_RTrim(char* str);
// The first non-blank character of str (its terminator for a string of blanks).
char* CN_LTrim(char* str);

extern WORD16 g_upm_ModuleNum;   // "upmnum" of QES; 1 at load
extern WORD16 g_wNavBureauID;    // "bureau" of NAV, QES and HOB: only logged
extern WORD16 g_wQesBureauID;
extern WORD16 g_wHobBureauID;
