#ifndef PRIVATESETTINGS_H
#define PRIVATESETTINGS_H

// Points the user-scope settings store at a folder of this process's own. In QStandardPaths
// test mode every test process would otherwise share ~/.qttest/config, and tests running side
// by side would overwrite each other's settings. Call before the first QSettings is made.
namespace PrivateSettings {
void use();
}

#endif
