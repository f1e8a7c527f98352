// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/command_line.h"

#include <QString>
#include <cstdio>

namespace {

constexpr char kUsage[] =
    "Usage : vistrel [Capture | TV | Time]\n"
    "        vistrel --help | --version\n"
    "\n"
    "Enregistre la vidéo et le son d'une carte d'acquisition dans des fichiers AVI.\n"
    "\n"
    "Modes :\n"
    "  (sans mot)  la fenêtre et ses commandes ; tout autre mot donne aussi ce mode\n"
    "  Capture     enregistrement plein écran en 800 × 600 ; Échap le termine\n"
    "  TV          image plein écran avec l'heure, rien n'est enregistré\n"
    "  Time        enregistrement derrière une petite vignette clignotante\n"
    "\n"
    "Environnement :\n"
    "  PLATFORM_MACHINE  fichier INI décrivant la machine (pilotes, compresseurs, affichage,\n"
    "                    lecteurs, utilisateur simulé) ; sans lui : la mire intégrée, l'écran\n"
    "                    réel, C: le dossier personnel et Z: la racine\n"
    "  QT_QPA_PLATFORM   plateforme Qt ; dans une session Wayland, xcb (XWayland) par défaut\n"
    "\n"
    "Fichiers écrits :\n"
    "  VST_<date>_<heure>_<n>.avi  les enregistrements, dans la destination choisie dans les\n"
    "                              options, sinon dans le dossier courant\n"
    "  CapLog.txt, Null.avi        journal de capture et essai du compresseur, dans le dossier\n"
    "                              courant\n"
    "  Vistrel.ini                 réglages, à côté du programme ; si ce dossier est protégé\n"
    "                              en écriture : $XDG_CONFIG_HOME/vistrel/ "
    "(~/.config/vistrel/)\n";

// Without a display Qt's X platform aborts with a core dump and several lines of its own: one line
// that says what to do instead serves a user, or a script, far better.
constexpr char kNoDisplay[] =
    "vistrel: il faut un affichage X, or DISPLAY n'est pas défini ; sans affichage : "
    "QT_QPA_PLATFORM=offscreen PLATFORM_MACHINE=machine.ini vistrel [Capture | TV | Time], "
    "machine.ini décrivant la machine et l'utilisateur simulé\n";

// Qt takes both "-name" and "--name" for its own options.
qsizetype QtOption(const QStringList& arguments, const char* name) {
    const qsizetype single = arguments.indexOf(QLatin1String("-") + QLatin1String(name));
    return single >= 0 ? single : arguments.indexOf(QLatin1String("--") + QLatin1String(name));
}

bool PlatformGiven(const QStringList& arguments) {
    return QtOption(arguments, "platform") >= 0;
}

QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace

bool XcbWanted(const QByteArray& waylandDisplay, const QByteArray& sessionType,
               const QByteArray& qpaPlatform, const QStringList& arguments) {
    const bool wayland = !waylandDisplay.isEmpty() || sessionType == "wayland";
    return wayland && qpaPlatform.isEmpty() && !PlatformGiven(arguments);
}

bool XDisplayMissing(const QByteArray& display, const QByteArray& qpaPlatform,
                     const QStringList& arguments) {
    const qsizetype platformOption = QtOption(arguments, "platform");
    const QString platform = platformOption >= 0 ? arguments.value(platformOption + 1)
                                                 : QString::fromLocal8Bit(qpaPlatform);
    const bool x = platform.isEmpty() || platform == QLatin1String("xcb");
    return x && display.isEmpty() && QtOption(arguments, "display") < 0;
}

std::optional<int> HandleCommandLine(int argc, char** argv) {
    const QStringList arguments = Arguments(argc, argv);
    if (arguments.value(1) == QLatin1String("--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arguments.value(1) == QLatin1String("--version")) {
        std::printf("vistrel %s\n", VISTREL_VERSION);
        return 0;
    }
    if (XcbWanted(qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE"),
                  qgetenv("QT_QPA_PLATFORM"), arguments)) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    if (XDisplayMissing(qgetenv("DISPLAY"), qgetenv("QT_QPA_PLATFORM"), arguments)) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    return std::nullopt;
}
