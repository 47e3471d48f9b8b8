#pragma once
// INI settings store: one process-wide document holding the file's lines
// verbatim, so a rewrite keeps comments, blank lines and unknown keys.
// Sections and keys match case-insensitively; every read names its default.

bool IniLoad(const char *path);
bool IniSave(const char *path);
void IniClose();

// The returned text stays valid until the next get.
const char *IniGetString(const char *section, const char *key, const char *defaultValue);
int IniGetInt(const char *section, const char *key, int defaultValue);
bool IniGetBool(const char *section, const char *key, bool defaultValue);

void IniSetString(const char *section, const char *key, const char *value);
void IniSetInt(const char *section, const char *key, int value);
void IniSetBool(const char *section, const char *key, bool value);
