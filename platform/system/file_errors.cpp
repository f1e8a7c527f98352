// SPDX-License-Identifier: GPL-2.0-or-later
#include <cerrno>
#include <string>

#include "platform/files.h"

namespace platform {

std::string FileErrorReason(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return "accès refusé";
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "disque plein";
        case ENOENT:
        case ENOTDIR:
            return "dossier introuvable";
        case EISDIR:
        case ENXIO:
        case kFileNotRegular:
            return "ce n'est pas un fichier";
        case kFileLineBreak:
            return "un réglage ne peut pas tenir sur plusieurs lignes";
        case kFileNoDrive:
            return "lecteur introuvable";
        case ENOMEM:
            return "mémoire insuffisante";
        case kFileAviLimit:
            return "taille maximale d'un fichier AVI atteinte";
        default:
            return {};
    }
}

}  // namespace platform
