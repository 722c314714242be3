// Where file dialogs open. Started from a desktop menu the working folder is "/" or the home
// folder, neither a place where users keep reports or route lists.
#pragma once

#include <QString>

namespace corvane {

// The user's documents folder (XDG_DOCUMENTS_DIR of user-dirs.dirs, else ~/Documents) when it
// exists, else the home folder.
QString documentsFolder();

// File dialogs of one kind start in the folder of the file last chosen through one of them in
// this run; before that, in the documents folder.
QString lastFolder(const char* kind);
void rememberFolderOf(const char* kind, const QString& filePath);

} // namespace corvane
