<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>Application</name>
    <message>
        <source>no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)</source>
        <translation>kein Konfigurationsordner (weder XDG_CONFIG_HOME noch HOME ist gesetzt)</translation>
    </message>
    <message>
        <source>the helper&apos;s own program file cannot be found</source>
        <translation>die Programmdatei des Helpers ist nicht zu finden</translation>
    </message>
    <message>
        <source>cannot create the folder %1: %2</source>
        <translation>der Ordner %1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>Could not make sure that only one helper runs (%1)</source>
        <translation>Es ließ sich nicht sicherstellen, dass nur ein Helper läuft (%1)</translation>
    </message>
    <message>
        <source>cannot create the folder %1</source>
        <translation>der Ordner %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Could not read the settings from %1 (%2); the defaults apply</source>
        <translation>Die Einstellungen konnten nicht aus %1 gelesen werden (%2); es gelten die Vorgaben</translation>
    </message>
    <message>
        <source>Could not save the settings to %1 (%2)</source>
        <translation>Die Einstellungen konnten nicht in %1 gespeichert werden (%2)</translation>
    </message>
</context>
<context>
    <name>Backends</name>
    <message>
        <source>%1 not writable (%2)</source>
        <translation>%1 nicht beschreibbar (%2)</translation>
    </message>
    <message>
        <source>uinput refused the device (%1)</source>
        <translation>uinput hat das Gerät abgelehnt (%1)</translation>
    </message>
    <message>
        <source>Let your user write to /dev/uinput (the uinput group and udev rule in the README), then start the helper again.</source>
        <translation>Erlauben Sie Ihrem Benutzer, in /dev/uinput zu schreiben (die Gruppe uinput und die udev-Regel in der README), und starten Sie den Helper dann neu.</translation>
    </message>
    <message>
        <source>no desktop backend reaches it</source>
        <translation>kein Desktop-Backend erreicht sie</translation>
    </message>
    <message>
        <source>%1, forced by %2</source>
        <translation>%1, erzwungen durch %2</translation>
    </message>
    <message>
        <source>not started in a dry run</source>
        <translation>im Probelauf nicht gestartet</translation>
    </message>
    <message>
        <source>%1 &quot;%2&quot; is not a backend (%3)</source>
        <translation>%1 „%2“ ist kein Backend (%3)</translation>
    </message>
    <message>
        <source>no desktop backend</source>
        <translation>kein Desktop-Backend</translation>
    </message>
    <message>
        <source>no graphical session (DISPLAY is not set)</source>
        <translation>keine grafische Sitzung (DISPLAY ist nicht gesetzt)</translation>
    </message>
    <message>
        <source>Wayland session (%1): %2</source>
        <translation>Wayland-Sitzung (%1): %2</translation>
    </message>
    <message>
        <source>Start the helper from your desktop session, where DISPLAY or WAYLAND_DISPLAY is set.</source>
        <translation>Starten Sie den Helper aus Ihrer Desktop-Sitzung, in der DISPLAY oder WAYLAND_DISPLAY gesetzt ist.</translation>
    </message>
    <message>
        <source>Backend: none, %1</source>
        <translation>Backend: keins, %1</translation>
    </message>
    <message>
        <source>Input: none</source>
        <translation>Eingabe: keine</translation>
    </message>
    <message>
        <source>Displays: one virtual display of 1920 × 1080 (dry run)</source>
        <translation>Bildschirme: ein virtueller Bildschirm mit 1920 × 1080 (Probelauf)</translation>
    </message>
    <message>
        <source>Displays: none</source>
        <translation>Bildschirme: keine</translation>
    </message>
    <message>
        <source>no X11 backend in this build</source>
        <translation>kein X11-Backend in diesem Build</translation>
    </message>
    <message>
        <source>wlroots: no wlroots backend in this build</source>
        <translation>wlroots: kein wlroots-Backend in diesem Build</translation>
    </message>
    <message>
        <source>portal: no portal backend in this build</source>
        <translation>portal: kein Portal-Backend in diesem Build</translation>
    </message>
    <message>
        <source>uinput: no uinput backend in this build</source>
        <translation>uinput: kein uinput-Backend in diesem Build</translation>
    </message>
    <message>
        <source>Windows: placed by %1&apos;s own keyboard shortcuts</source>
        <translation>Fenster: platziert über die eigenen Tastenkürzel von %1</translation>
    </message>
    <message>
        <source>XDG_CURRENT_DESKTOP does not name the desktop</source>
        <translation>XDG_CURRENT_DESKTOP nennt den Desktop nicht</translation>
    </message>
    <message>
        <source>no known shortcuts place windows on %1</source>
        <translation>keine bekannten Tastenkürzel platzieren Fenster auf %1</translation>
    </message>
    <message>
        <source>Windows: none, %1</source>
        <translation>Fenster: keine, %1</translation>
    </message>
    <message>
        <source>Screen capture: PipeWire (portal), JPEG through libyuv and libjpeg-turbo</source>
        <translation>Bildschirmaufnahme: PipeWire (Portal), JPEG über libyuv und libjpeg-turbo</translation>
    </message>
    <message>
        <source>Screen capture: none, no PipeWire in this build</source>
        <translation>Bildschirmaufnahme: keine, kein PipeWire in diesem Build</translation>
    </message>
    <message>
        <source>Backend: portal (remote-desktop portal version %1)</source>
        <translation>Backend: Portal (Remote-Desktop-Portal Version %1)</translation>
    </message>
    <message>
        <source>Backend: portal (remote-desktop portal version %1, forced by %2)</source>
        <translation>Backend: Portal (Remote-Desktop-Portal Version %1, erzwungen durch %2)</translation>
    </message>
    <message>
        <source>Input: through the portal; this desktop grants remote control without asking</source>
        <translation>Eingabe: über das Portal; dieser Desktop erlaubt die Fernsteuerung ohne Nachfrage</translation>
    </message>
    <message>
        <source>Input: through the portal; the desktop asks once and keeps the consent</source>
        <translation>Eingabe: über das Portal; der Desktop fragt einmal und behält die Zustimmung</translation>
    </message>
    <message>
        <source>Input: through the portal; the desktop asks for consent at every start (portal version 1 keeps no permission)</source>
        <translation>Eingabe: über das Portal; der Desktop fragt bei jedem Start nach Zustimmung (Portal-Version 1 behält keine Erlaubnis)</translation>
    </message>
    <message>
        <source>Typing: characters without a key in %1 are skipped and named; the portal cannot type them</source>
        <translation>Tippen: Zeichen ohne Taste in %1 werden übersprungen und genannt; das Portal kann sie nicht tippen</translation>
    </message>
    <message>
        <source>Displays: the monitors shared in the portal&apos;s dialog; the pointer is where the helper last put it (Wayland does not reveal it)</source>
        <translation>Bildschirme: die im Dialog des Portals freigegebenen Monitore; der Zeiger ist dort, wo der Helper ihn zuletzt hingesetzt hat (Wayland verrät ihn nicht)</translation>
    </message>
    <message>
        <source>GNOME lets no other program draw above its windows under Wayland</source>
        <translation>GNOME lässt unter Wayland kein anderes Programm über seinen Fenstern zeichnen</translation>
    </message>
    <message>
        <source>the portal offers no surface above other windows</source>
        <translation>das Portal bietet keine Fläche über anderen Fenstern</translation>
    </message>
    <message>
        <source>Overlays: none, %1</source>
        <translation>Einblendungen: keine, %1</translation>
    </message>
    <message>
        <source>the desktop portal has no Clipboard interface; xdg-desktop-portal 1.18 and later offer one</source>
        <translation>das Desktop-Portal hat keine Clipboard-Schnittstelle; xdg-desktop-portal ab 1.18 bietet eine</translation>
    </message>
    <message>
        <source>%1 (unless the portal offers its Clipboard interface, which is then used)</source>
        <translation>%1 (außer das Portal bietet seine Clipboard-Schnittstelle, die dann benutzt wird)</translation>
    </message>
    <message>
        <source>Applications: launched through GIO; listed are those holding their name on the session bus or launched by the helper, none in front (this desktop shows its windows to no other program)</source>
        <translation>Anwendungen: gestartet über GIO; aufgelistet sind die, die ihren Namen auf dem Sitzungsbus halten oder vom Helper gestartet wurden, keine im Vordergrund (dieser Desktop zeigt seine Fenster keinem anderen Programm)</translation>
    </message>
    <message>
        <source>Applications: none in this build</source>
        <translation>Anwendungen: keine in diesem Build</translation>
    </message>
    <message>
        <source>Idle inhibitor: systemd-logind</source>
        <translation>Ruhezustandssperre: systemd-logind</translation>
    </message>
    <message>
        <source>Idle inhibitor: none (no system bus)</source>
        <translation>Ruhezustandssperre: keine (kein Systembus)</translation>
    </message>
    <message>
        <source>Idle inhibitor: none</source>
        <translation>Ruhezustandssperre: keine</translation>
    </message>
    <message>
        <source>the system settings (pretty host name)</source>
        <translation>den Systemeinstellungen (Anzeigename des Rechners)</translation>
    </message>
    <message>
        <source>the computer&apos;s network host name</source>
        <translation>dem Netzwerknamen des Computers</translation>
    </message>
    <message>
        <source>nowhere</source>
        <translation>nirgendwo</translation>
    </message>
    <message>
        <source>Computer name: %1, taken from %2</source>
        <translation>Computername: %1, übernommen aus %2</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(keiner)</translation>
    </message>
    <message>
        <source>Identity key: kept in the desktop&apos;s keyring, else in a private file</source>
        <translation>Identitätsschlüssel: im Schlüsselbund des Desktops aufbewahrt, sonst in einer privaten Datei</translation>
    </message>
    <message>
        <source>Identity key: kept in a private file</source>
        <translation>Identitätsschlüssel: in einer privaten Datei aufbewahrt</translation>
    </message>
    <message>
        <source>Discovery: none in this build</source>
        <translation>Erkennung: keine in diesem Build</translation>
    </message>
    <message>
        <source>Bluetooth: BlueZ over the system bus</source>
        <translation>Bluetooth: BlueZ über den Systembus</translation>
    </message>
    <message>
        <source>Bluetooth: none in this build</source>
        <translation>Bluetooth: keins in diesem Build</translation>
    </message>
    <message>
        <source>no connected monitor in %1 for a uinput pointer</source>
        <translation>kein angeschlossener Monitor in %1 für einen uinput-Zeiger</translation>
    </message>
    <message>
        <source>Backend: uinput through %1</source>
        <translation>Backend: uinput über %1</translation>
    </message>
    <message>
        <source>%1 (forced by %2)</source>
        <translation>%1 (erzwungen durch %2)</translation>
    </message>
    <message>
        <source>Input: a virtual pointer and keyboard typing in the &quot;%1&quot; layout; characters it has no key for are not typed</source>
        <translation>Eingabe: ein virtueller Zeiger und eine Tastatur, die in der Belegung „%1“ tippt; Zeichen ohne Taste werden nicht getippt</translation>
    </message>
    <message>
        <source>Displays: %1 connected monitor(s) side by side at their preferred modes; the pointer is where the helper last put it</source>
        <translation>Bildschirme: %1 angeschlossene(r) Monitor(e) nebeneinander in ihren bevorzugten Modi; der Zeiger ist dort, wo der Helper ihn zuletzt hingesetzt hat</translation>
    </message>
    <message>
        <source>Screen capture: none, uinput cannot read the screen</source>
        <translation>Bildschirmaufnahme: keine, uinput kann den Bildschirm nicht lesen</translation>
    </message>
    <message>
        <source>uinput devices reach no clipboard</source>
        <translation>uinput-Geräte erreichen keine Zwischenablage</translation>
    </message>
    <message>
        <source>Clipboard: none, %1</source>
        <translation>Zwischenablage: keine, %1</translation>
    </message>
    <message>
        <source>no Wayland clipboard in this build</source>
        <translation>keine Wayland-Zwischenablage in diesem Build</translation>
    </message>
    <message>
        <source>Clipboard: the compositor&apos;s data control (text), served while the helper runs</source>
        <translation>Zwischenablage: die Datenkontrolle des Compositors (Text), bereitgestellt, solange der Helper läuft</translation>
    </message>
    <message>
        <source>the compositor offers %1 (not a wlroots compositor)</source>
        <translation>der Compositor bietet %1 (kein wlroots-Compositor)</translation>
    </message>
    <message>
        <source>the compositor&apos;s virtual devices cannot be made</source>
        <translation>die virtuellen Geräte des Compositors lassen sich nicht anlegen</translation>
    </message>
    <message>
        <source>Backend: wlroots compositor&apos;s own protocols</source>
        <translation>Backend: die eigenen Protokolle des wlroots-Compositors</translation>
    </message>
    <message>
        <source>Input: a virtual pointer and keyboard of the compositor (wlroots), typing with %1; other characters through keys lent by the helper</source>
        <translation>Eingabe: ein virtueller Zeiger und eine Tastatur des Compositors (wlroots), tippend mit %1; andere Zeichen über Tasten, die der Helper leiht</translation>
    </message>
    <message>
        <source>Displays: %1 output(s) from xdg-output; the pointer is where the helper last put it (Wayland does not reveal it)</source>
        <translation>Bildschirme: %1 Ausgabe(n) aus xdg-output; der Zeiger ist dort, wo der Helper ihn zuletzt hingesetzt hat (Wayland verrät ihn nicht)</translation>
    </message>
    <message>
        <source>Screen capture: screencopy of the compositor into shared memory, the cursor drawn in by the compositor, JPEG through libyuv and libjpeg-turbo</source>
        <translation>Bildschirmaufnahme: screencopy des Compositors in gemeinsamen Speicher, der Mauszeiger vom Compositor eingezeichnet, JPEG über libyuv und libjpeg-turbo</translation>
    </message>
    <message>
        <source>Screen capture: none, %1</source>
        <translation>Bildschirmaufnahme: keine, %1</translation>
    </message>
    <message>
        <source>Screen capture: none, no screencopy in this build</source>
        <translation>Bildschirmaufnahme: keine, kein screencopy in diesem Build</translation>
    </message>
    <message>
        <source>Applications: the compositor&apos;s foreign-toplevel list, matched to desktop entries; launching through GIO</source>
        <translation>Anwendungen: die foreign-toplevel-Liste des Compositors, den Desktop-Einträgen zugeordnet; Starten über GIO</translation>
    </message>
    <message>
        <source>Applications: no window list from the compositor, %1</source>
        <translation>Anwendungen: keine Fensterliste vom Compositor, %1</translation>
    </message>
    <message>
        <source>Applications: none, no GIO in this build</source>
        <translation>Anwendungen: keine, kein GIO in diesem Build</translation>
    </message>
    <message>
        <source>Windows: placed through sway&apos;s IPC (the window floats where it is put)</source>
        <translation>Fenster: platziert über die IPC von sway (das Fenster schwebt, wo es hingesetzt wird)</translation>
    </message>
    <message>
        <source>Overlays: layer-shell surfaces on the compositor&apos;s overlay layer, letting clicks through</source>
        <translation>Einblendungen: Layer-Shell-Flächen auf der Überlagerungsebene des Compositors, Klicks gehen hindurch</translation>
    </message>
    <message>
        <source>no X11 display (DISPLAY is not set)</source>
        <translation>kein X11-Display (DISPLAY ist nicht gesetzt)</translation>
    </message>
    <message>
        <source>Backend: x11 on display %1</source>
        <translation>Backend: x11 auf Display %1</translation>
    </message>
    <message>
        <source>%1 (XWayland: only X11 programs see the input; %2)</source>
        <translation>%1 (XWayland: nur X11-Programme sehen die Eingabe; %2)</translation>
    </message>
    <message>
        <source>Input: %1</source>
        <translation>Eingabe: %1</translation>
    </message>
    <message>
        <source>Displays: %1</source>
        <translation>Bildschirme: %1</translation>
    </message>
    <message>
        <source>Applications: the window manager&apos;s clients, desktop entries through GIO</source>
        <translation>Anwendungen: die Clients des Fenstermanagers, Desktop-Einträge über GIO</translation>
    </message>
    <message>
        <source>Windows: EWMH; clipboard: the X11 CLIPBOARD selection</source>
        <translation>Fenster: EWMH; Zwischenablage: die X11-Auswahl CLIPBOARD</translation>
    </message>
    <message>
        <source>Windows: none (no GIO in this build); clipboard: none</source>
        <translation>Fenster: keine (kein GIO in diesem Build); Zwischenablage: keine</translation>
    </message>
    <message>
        <source>Overlays: X11 windows, translucent with a compositor, shaped without</source>
        <translation>Einblendungen: X11-Fenster, durchscheinend mit Compositor, zugeschnitten ohne</translation>
    </message>
    <message>
        <source>Screen capture: %1, JPEG through libyuv and libjpeg-turbo</source>
        <translation>Bildschirmaufnahme: %1, JPEG über libyuv und libjpeg-turbo</translation>
    </message>
    <message>
        <source>Screen capture: none in this build</source>
        <translation>Bildschirmaufnahme: keine in diesem Build</translation>
    </message>
</context>
<context>
    <name>Console</name>
    <message>
        <source>Commands:</source>
        <translation>Befehle:</translation>
    </message>
    <message>
        <source>open a pairing code (valid 120 s) and show its link and QR code</source>
        <translation>einen Kopplungscode öffnen (120 s gültig) und Link und QR-Code zeigen</translation>
    </message>
    <message>
        <source>close the open pairing code</source>
        <translation>den offenen Kopplungscode schließen</translation>
    </message>
    <message>
        <source>list paired devices: id scope screen name</source>
        <translation>gekoppelte Geräte auflisten: ID Umfang Bildschirm Name</translation>
    </message>
    <message>
        <source>change what a device may do</source>
        <translation>ändern, was ein Gerät darf</translation>
    </message>
    <message>
        <source>ask again before the device may see the screen</source>
        <translation>erneut fragen, bevor das Gerät den Bildschirm sehen darf</translation>
    </message>
    <message>
        <source>forget a device and end its sessions</source>
        <translation>ein Gerät vergessen und seine Sitzungen beenden</translation>
    </message>
    <message>
        <source>transports, discovery, connections, statistics, last event</source>
        <translation>Verbindungswege, Auffindbarkeit, Verbindungen, Statistik, letztes Ereignis</translation>
    </message>
    <message>
        <source>start or stop listening (remembered across restarts)</source>
        <translation>Netzwerk-Empfang starten oder beenden (bleibt nach Neustart erhalten)</translation>
    </message>
    <message>
        <source>allow or stop Bluetooth connections (remembered)</source>
        <translation>Bluetooth-Verbindungen erlauben oder beenden (bleibt erhalten)</translation>
    </message>
    <message>
        <source>tell connected phones the name of the front application</source>
        <translation>verbundenen Telefonen den Namen der aktiven App mitteilen</translation>
    </message>
    <message>
        <source>start the helper when you log in</source>
        <translation>den Helper bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>stop the helper</source>
        <translation>den Helper beenden</translation>
    </message>
    <message>
        <source>Expires in %1 · works once</source>
        <translation>Läuft ab in %1 · gilt einmal</translation>
    </message>
    <message>
        <source>This computer: %1</source>
        <translation>Dieser Computer: %1</translation>
    </message>
    <message>
        <source>Allow “%1” to control this computer?</source>
        <translation>„%1“ erlauben, diesen Computer zu steuern?</translation>
    </message>
    <message>
        <source>It will be able to move the pointer, click and type.</source>
        <translation>Das Gerät kann dann den Zeiger bewegen, klicken und tippen.</translation>
    </message>
    <message>
        <source>Device key: %1</source>
        <translation>Geräteschlüssel: %1</translation>
    </message>
    <message>
        <source>Only allow devices you own and are pairing right now.</source>
        <translation>Erlauben Sie nur eigene Geräte, die Sie gerade koppeln.</translation>
    </message>
    <message>
        <source>Allow this device? The next line you type answers: y allows, anything else denies. [y/N]</source>
        <translation>Dieses Gerät erlauben? Ihre nächste Eingabezeile antwortet: y erlaubt, alles andere lehnt ab. [y/N]</translation>
    </message>
    <message>
        <source>Allow “%1” to see your screen?</source>
        <translation>„%1“ erlauben, Ihren Bildschirm zu sehen?</translation>
    </message>
    <message>
        <source>It will see whatever is on the monitor it&apos;s showing, while Live screen is open on it. You can change this later in Tamborix Helper → Paired devices.</source>
        <translation>Das Gerät sieht alles auf dem gezeigten Monitor, solange dort „Live-Bildschirm“ geöffnet ist. Sie können das später unter Tamborix Helper → Gekoppelte Geräte ändern.</translation>
    </message>
    <message>
        <source>Allow screen viewing? The next line you type answers: y allows, anything else denies. [y/N]</source>
        <translation>Bildschirmansicht erlauben? Ihre nächste Eingabezeile antwortet: y erlaubt, alles andere lehnt ab. [y/N]</translation>
    </message>
    <message>
        <source>Allowed.</source>
        <translation>Erlaubt.</translation>
    </message>
    <message>
        <source>Denied.</source>
        <translation>Abgelehnt.</translation>
    </message>
    <message>
        <source>No answer in 60 seconds: denied.</source>
        <translation>Keine Antwort in 60 Sekunden: abgelehnt.</translation>
    </message>
    <message>
        <source>Usage: %1</source>
        <translation>Aufruf: %1</translation>
    </message>
    <message>
        <source>No paired device with id %1 (see devices)</source>
        <translation>Kein gekoppeltes Gerät mit der ID %1 (siehe devices)</translation>
    </message>
    <message>
        <source>Not saved yet: %1</source>
        <translation>Noch nicht gespeichert: %1</translation>
    </message>
    <message>
        <source>%1 until the helper stops; saving is tried again until it works.</source>
        <translation>%1, bis der Helper endet; das Speichern wird wiederholt, bis es gelingt.</translation>
    </message>
    <message>
        <source>Pairing code: %1</source>
        <translation>Kopplungscode: %1</translation>
    </message>
    <message>
        <source>Pairing link: %1</source>
        <translation>Kopplungslink: %1</translation>
    </message>
    <message>
        <source>(the link does not fit in a QR code; type the code instead)</source>
        <translation>(der Link passt in keinen QR-Code; tippen Sie stattdessen den Code ein)</translation>
    </message>
    <message>
        <source>No paired devices.</source>
        <translation>Keine gekoppelten Geräte.</translation>
    </message>
    <message>
        <source>The scope of %1 is %2</source>
        <translation>Der Umfang von %1 ist %2</translation>
    </message>
    <message>
        <source>Scope of %1: %2</source>
        <translation>Umfang von %1: %2</translation>
    </message>
    <message>
        <source>Screen viewing of %1 is undecided</source>
        <translation>Die Bildschirmansicht von %1 ist offen</translation>
    </message>
    <message>
        <source>Screen viewing of %1: undecided</source>
        <translation>Bildschirmansicht von %1: offen</translation>
    </message>
    <message>
        <source>%1 is revoked and its sessions have ended</source>
        <translation>%1 ist entfernt und seine Sitzungen sind beendet</translation>
    </message>
    <message>
        <source>Revoked %1</source>
        <translation>%1 entfernt</translation>
    </message>
    <message>
        <source>Front-app sharing: on</source>
        <translation>Aktive App teilen: ein</translation>
    </message>
    <message>
        <source>Front-app sharing: off</source>
        <translation>Aktive App teilen: aus</translation>
    </message>
    <message>
        <source>Start at login could not be changed: %1</source>
        <translation>Start bei Anmeldung ließ sich nicht ändern: %1</translation>
    </message>
    <message>
        <source>Start at login: on</source>
        <translation>Start bei Anmeldung: ein</translation>
    </message>
    <message>
        <source>Start at login: off</source>
        <translation>Start bei Anmeldung: aus</translation>
    </message>
    <message>
        <source>Unknown command: %1 (try help)</source>
        <translation>Unbekannter Befehl: %1 (siehe help)</translation>
    </message>
</context>
<context>
    <name>ConsoleOutput</name>
    <message>
        <source>Warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>Dry run: no input is posted and no screen is captured</source>
        <translation>Probelauf: keine Eingabe wird gesendet und kein Bildschirm aufgenommen</translation>
    </message>
    <message>
        <source>Type help for the commands.</source>
        <translation>Geben Sie help ein, um die Befehle zu sehen.</translation>
    </message>
    <message>
        <source>Identity %1</source>
        <translation>Identität %1</translation>
    </message>
    <message>
        <source>Saved the paired devices to %1: the changes since the warning are kept.</source>
        <translation>Die gekoppelten Geräte sind in %1 gespeichert: die Änderungen seit der Warnung bleiben erhalten.</translation>
    </message>
    <message>
        <source>Event: %1</source>
        <translation>Ereignis: %1</translation>
    </message>
    <message>
        <source>Type pair for a new code.</source>
        <translation>Geben Sie pair für einen neuen Code ein.</translation>
    </message>
</context>
<context>
    <name>Desktop</name>
    <message>
        <source>The laser and the cursor finder cannot be shown on this desktop: %1</source>
        <translation>Laser und Zeigersuche können auf diesem Desktop nicht angezeigt werden: %1</translation>
    </message>
    <message>
        <source>no desktop backend</source>
        <translation>kein Desktop-Backend</translation>
    </message>
    <message>
        <source>windows cannot be placed on this desktop (%1)</source>
        <translation>Fenster können auf diesem Desktop nicht platziert werden (%1)</translation>
    </message>
    <message>
        <source>no desktop backend draws them</source>
        <translation>kein Desktop-Backend zeichnet sie</translation>
    </message>
    <message>
        <source>the clipboard cannot be shared on this desktop (%1)</source>
        <translation>die Zwischenablage kann auf diesem Desktop nicht geteilt werden (%1)</translation>
    </message>
</context>
<context>
    <name>DesktopUi</name>
    <message>
        <source>Open Tamborix Helper</source>
        <translation>Tamborix Helper öffnen</translation>
    </message>
    <message>
        <source>Pair New Device…</source>
        <translation>Neues Gerät koppeln …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>No phone connected</source>
        <translation>Kein Telefon verbunden</translation>
    </message>
    <message>
        <source>1 phone connected</source>
        <translation>1 Telefon verbunden</translation>
    </message>
    <message>
        <source>%1 phones connected</source>
        <translation>%1 Telefone verbunden</translation>
    </message>
    <message>
        <source>Tamborix Helper status</source>
        <translation>Tamborix Helper – Status</translation>
    </message>
    <message>
        <source>Pair a Device</source>
        <translation>Gerät koppeln</translation>
    </message>
</context>
<context>
    <name>DialogPrompter</name>
    <message>
        <source>Allow “%1” to control this computer?</source>
        <translation>„%1“ erlauben, diesen Computer zu steuern?</translation>
    </message>
    <message>
        <source>It will be able to move the pointer, click and type.
Device key: %1

Only allow devices you own and are pairing right now.</source>
        <translation>Das Gerät kann dann den Zeiger bewegen, klicken und tippen.
Geräteschlüssel: %1

Erlauben Sie nur eigene Geräte, die Sie gerade koppeln.</translation>
    </message>
    <message>
        <source>Deny</source>
        <translation>Ablehnen</translation>
    </message>
    <message>
        <source>Allow “%1” to see your screen?</source>
        <translation>„%1“ erlauben, Ihren Bildschirm zu sehen?</translation>
    </message>
    <message>
        <source>It will see whatever is on the monitor it&apos;s showing, while Live screen is open on it. You can change this later in Tamborix Helper → Paired devices.</source>
        <translation>Das Gerät sieht alles auf dem gezeigten Monitor, solange dort „Live-Bildschirm“ geöffnet ist. Sie können das später unter Tamborix Helper → Gekoppelte Geräte ändern.</translation>
    </message>
    <message>
        <source>Don&apos;t Allow</source>
        <translation>Nicht erlauben</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Erlauben</translation>
    </message>
</context>
<context>
    <name>Events</name>
    <message>
        <source>Could not pair %1: %2</source>
        <translation>%1 konnte nicht gekoppelt werden: %2</translation>
    </message>
    <message>
        <source>the device could not be stored</source>
        <translation>das Gerät konnte nicht gespeichert werden</translation>
    </message>
</context>
<context>
    <name>HelpTexts</name>
    <message>
        <source>Scanning the QR code still works. For phones to find this computer by name, start Avahi: sudo systemctl enable --now avahi-daemon</source>
        <translation>Das Scannen des QR-Codes funktioniert weiterhin. Damit Telefone diesen Computer über seinen Namen finden, starten Sie Avahi: sudo systemctl enable --now avahi-daemon</translation>
    </message>
    <message>
        <source>Phones connect to TCP port %1. If they cannot reach it, allow that port in the firewall.</source>
        <translation>Telefone verbinden sich mit TCP-Port %1. Wenn sie ihn nicht erreichen, geben Sie diesen Port in der Firewall frei.</translation>
    </message>
</context>
<context>
    <name>HelperModel</name>
    <message>
        <source>CPU %1% · %2 MB · lag %3 ms · %4 cmds/s · BT backlog %5</source>
        <translation>CPU %1% · %2 MB · Verzögerung %3 ms · %4 Befehle/s · BT-Warteschlange %5</translation>
    </message>
    <message>
        <source>Screen capture is not available in this session</source>
        <translation>Bildschirmaufnahme ist in dieser Sitzung nicht verfügbar</translation>
    </message>
    <message>
        <source>Network — Off</source>
        <translation>Netzwerk — Aus</translation>
    </message>
    <message>
        <source>Network — Off until the identity key can be read</source>
        <translation>Netzwerk — Aus, bis der Identitätsschlüssel lesbar ist</translation>
    </message>
    <message>
        <source>Network — %1</source>
        <translation>Netzwerk — %1</translation>
    </message>
    <message>
        <source>Identity key — %1</source>
        <translation>Identitätsschlüssel — %1</translation>
    </message>
    <message>
        <source>Bluetooth — %1</source>
        <translation>Bluetooth — %1</translation>
    </message>
    <message>
        <source>Not supported on this computer</source>
        <translation>Auf diesem Computer nicht unterstützt</translation>
    </message>
    <message>
        <source>Bluetooth — Off</source>
        <translation>Bluetooth — Aus</translation>
    </message>
    <message>
        <source>Bluetooth — Off until the identity key can be read</source>
        <translation>Bluetooth — Aus, bis der Identitätsschlüssel lesbar ist</translation>
    </message>
    <message>
        <source>Input — dry run: nothing is posted, every action is logged</source>
        <translation>Eingabe — Probelauf: nichts wird gesendet, jede Aktion wird protokolliert</translation>
    </message>
    <message>
        <source>Input — allowed</source>
        <translation>Eingabe — erlaubt</translation>
    </message>
    <message>
        <source>Input — Needs permission to move the pointer and type.</source>
        <translation>Eingabe — Braucht die Erlaubnis, den Zeiger zu bewegen und zu tippen.</translation>
    </message>
    <message>
        <source>Pairing is off: identity key — %1</source>
        <translation>Kopplung ist aus: Identitätsschlüssel — %1</translation>
    </message>
    <message>
        <source>Changes to the paired devices hold until the helper stops; saving is tried again until it works.</source>
        <translation>Änderungen an den gekoppelten Geräten gelten, bis der Helper endet; das Speichern wird wiederholt, bis es gelingt.</translation>
    </message>
    <message>
        <source>Warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>Screen shared with %1</source>
        <translation>Bildschirm geteilt mit %1</translation>
    </message>
    <message>
        <source>Connected: none</source>
        <translation>Verbunden: keine</translation>
    </message>
    <message>
        <source>Connected: %1</source>
        <translation>Verbunden: %1</translation>
    </message>
    <message>
        <source>on</source>
        <translation>ein</translation>
    </message>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
    <message>
        <source>Switches: network %1 · Bluetooth %2 · front-app sharing %3 · start at login %4</source>
        <translation>Schalter: Netzwerk %1 · Bluetooth %2 · aktive App teilen %3 · Start bei Anmeldung %4</translation>
    </message>
    <message>
        <source>not supported</source>
        <translation>nicht unterstützt</translation>
    </message>
    <message>
        <source>Pairing code: %1</source>
        <translation>Kopplungscode: %1</translation>
    </message>
    <message>
        <source>Paired devices: %1</source>
        <translation>Gekoppelte Geräte: %1</translation>
    </message>
    <message>
        <source>Last event: %1</source>
        <translation>Letztes Ereignis: %1</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>On</source>
        <translation>Ein</translation>
    </message>
    <message>
        <source>Starting…</source>
        <translation>Startet …</translation>
    </message>
    <message>
        <source>Bluetooth is off</source>
        <translation>Bluetooth ist ausgeschaltet</translation>
    </message>
    <message>
        <source>Needs Bluetooth permission</source>
        <translation>Braucht die Bluetooth-Berechtigung</translation>
    </message>
    <message>
        <source>On (port %1)</source>
        <translation>Ein (Port %1)</translation>
    </message>
    <message>
        <source>On (%1</source>
        <translation>Ein (%1</translation>
    </message>
    <message>
        <source>Waiting: %1</source>
        <translation>Wartet: %1</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Discovery — off</source>
        <translation>Auffindbarkeit — aus</translation>
    </message>
    <message>
        <source>Discovery — registering “%1”…</source>
        <translation>Auffindbarkeit — „%1“ wird angemeldet …</translation>
    </message>
    <message>
        <source>Discovery — advertised as “%1”</source>
        <translation>Auffindbarkeit — sichtbar als „%1“</translation>
    </message>
    <message>
        <source>Discovery — unavailable: %1</source>
        <translation>Auffindbarkeit — nicht verfügbar: %1</translation>
    </message>
    <message>
        <source>Rejected a command from %1</source>
        <translation>Befehl von %1 abgelehnt</translation>
    </message>
    <message>
        <source>Clipboard received from %1</source>
        <translation>Zwischenablage von %1 empfangen</translation>
    </message>
    <message>
        <source>Wrong pairing code from %1</source>
        <translation>Falscher Kopplungscode von %1</translation>
    </message>
    <message>
        <source>Paired %1</source>
        <translation>%1 gekoppelt</translation>
    </message>
    <message>
        <source>Denied %1</source>
        <translation>%1 abgelehnt</translation>
    </message>
    <message>
        <source>%1 connected via %2</source>
        <translation>%1 verbunden über %2</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>Bluetooth</source>
        <translation>Bluetooth</translation>
    </message>
    <message>
        <source>not available yet</source>
        <translation>noch nicht verfügbar</translation>
    </message>
    <message>
        <source>the file was not written</source>
        <translation>die Datei wurde nicht geschrieben</translation>
    </message>
</context>
<context>
    <name>IdentityKey</name>
    <message>
        <source>The identity key in the keyring is not a key; it is left there</source>
        <translation>Der Identitätsschlüssel im Schlüsselbund ist kein Schlüssel; er bleibt dort</translation>
    </message>
    <message>
        <source>%1 could not be read as a key; kept aside as %2</source>
        <translation>%1 konnte nicht als Schlüssel gelesen werden; beiseitegelegt als %2</translation>
    </message>
    <message>
        <source>%1 could not be read as a key, nor moved aside</source>
        <translation>%1 konnte weder als Schlüssel gelesen noch beiseitegelegt werden</translation>
    </message>
    <message>
        <source>locked in the keyring</source>
        <translation>im Schlüsselbund gesperrt</translation>
    </message>
    <message>
        <source>in the keyring, which cannot be reached (%1)</source>
        <translation>im Schlüsselbund, der nicht erreichbar ist (%1)</translation>
    </message>
    <message>
        <source>missing from the keyring; to start over with a new identity (every phone pairs again) remove %1</source>
        <translation>fehlt im Schlüsselbund; um mit einer neuen Identität neu zu beginnen (jedes Telefon koppelt neu), entfernen Sie %1</translation>
    </message>
    <message>
        <source>A new identity key was made: every paired phone must pair again</source>
        <translation>Ein neuer Identitätsschlüssel wurde erzeugt: jedes gekoppelte Telefon muss neu gekoppelt werden</translation>
    </message>
    <message>
        <source>kept for this run only, it could not be stored (%1: %2); pairing is off</source>
        <translation>nur für diesen Lauf behalten, er konnte nicht gespeichert werden (%1: %2); die Kopplung ist aus</translation>
    </message>
    <message>
        <source>kept for this run only, it could not be stored (keyring: %1; %2: %3); pairing is off</source>
        <translation>nur für diesen Lauf behalten, er konnte nicht gespeichert werden (Schlüsselbund: %1; %2: %3); die Kopplung ist aus</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Line too long (over %1 bytes): ignored</source>
        <translation>Zeile zu lang (über %1 Bytes): ignoriert</translation>
    </message>
    <message>
        <source>To pair a phone type pair; status shows the helper&apos;s state.</source>
        <translation>Um ein Telefon zu koppeln, geben Sie pair ein; status zeigt den Zustand des Helpers.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Beendet.</translation>
    </message>
</context>
<context>
    <name>MenuContent</name>
    <message>
        <source>Presenter only</source>
        <translation>Nur Präsentation</translation>
    </message>
    <message>
        <source>Full control</source>
        <translation>Volle Steuerung</translation>
    </message>
    <message>
        <source>CPU %1% · memory %2 MB · delay %3 ms · %4 commands/s · Bluetooth queue %5</source>
        <translation>CPU %1% · Speicher %2 MB · Verzögerung %3 ms · %4 Befehle/s · Bluetooth-Warteschlange %5</translation>
    </message>
    <message>
        <source>Needs permission to move the pointer and type.</source>
        <translation>Braucht die Erlaubnis, den Zeiger zu bewegen und zu tippen.</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Pair New Device…</source>
        <translation>Neues Gerät koppeln …</translation>
    </message>
    <message>
        <source>Pair New Device</source>
        <translation>Neues Gerät koppeln</translation>
    </message>
    <message>
        <source>Paired devices</source>
        <translation>Gekoppelte Geräte</translation>
    </message>
    <message>
        <source>Delay: how late the helper answered its own timer in the last second. Bluetooth queue: messages waiting for a slow Bluetooth link.</source>
        <translation>Verzögerung: wie spät der Helper in der letzten Sekunde auf seinen eigenen Taktgeber reagiert hat. Bluetooth-Warteschlange: Nachrichten, die auf eine langsame Bluetooth-Verbindung warten.</translation>
    </message>
    <message>
        <source>Share the active app with paired phones (for shortcuts)</source>
        <translation>Aktive App mit gekoppelten Telefonen teilen (für Kurzbefehle)</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Bei Anmeldung starten</translation>
    </message>
    <message>
        <source>Start at login could not be changed: %1</source>
        <translation>Start bei Anmeldung ließ sich nicht ändern: %1</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Identity %1</source>
        <translation>Identität %1</translation>
    </message>
    <message>
        <source>This computer&apos;s key. Your phone shows it too: check that they match.</source>
        <translation>Der Schlüssel dieses Computers. Ihr Telefon zeigt ihn auch: prüfen Sie, ob beide übereinstimmen.</translation>
    </message>
    <message>
        <source>Pairing is off until the key is kept.</source>
        <translation>Die Kopplung ist aus, bis der Schlüssel gespeichert ist.</translation>
    </message>
    <message>
        <source>Warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>Phones can connect, but nothing they do reaches this desktop until then.</source>
        <translation>Telefone können sich verbinden, aber bis dahin erreicht nichts, was sie tun, diesen Desktop.</translation>
    </message>
    <message>
        <source>The helper notices within 2 seconds.</source>
        <translation>Der Helper bemerkt es innerhalb von 2 Sekunden.</translation>
    </message>
    <message>
        <source>Screen shared with %1</source>
        <translation>Bildschirm geteilt mit %1</translation>
    </message>
    <message>
        <source>Allow full control</source>
        <translation>Volle Steuerung erlauben</translation>
    </message>
    <message>
        <source>Limit to presenter (no typing)</source>
        <translation>Auf Präsentation beschränken (kein Tippen)</translation>
    </message>
    <message>
        <source>Stop allowing screen viewing</source>
        <translation>Bildschirmansicht nicht mehr erlauben</translation>
    </message>
    <message>
        <source>Reset screen-viewing permission</source>
        <translation>Erlaubnis zur Bildschirmansicht zurücksetzen</translation>
    </message>
    <message>
        <source>Remove…</source>
        <translation>Entfernen …</translation>
    </message>
    <message>
        <source>Actions for %1</source>
        <translation>Aktionen für %1</translation>
    </message>
    <message>
        <source>Remove %1?</source>
        <translation>%1 entfernen?</translation>
    </message>
    <message>
        <source>It will be disconnected immediately and must pair again.</source>
        <translation>Das Gerät wird sofort getrennt und muss neu gekoppelt werden.</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Open %1</source>
        <translation>%1 öffnen</translation>
    </message>
</context>
<context>
    <name>PairingProgress</name>
    <message>
        <source>Pairing is closed.</source>
        <translation>Die Kopplung ist geschlossen.</translation>
    </message>
    <message>
        <source>“%1” entered the code. Allow or deny it in the approval prompt.</source>
        <translation>„%1“ hat den Code eingegeben. Erlauben oder verweigern Sie es in der Rückfrage.</translation>
    </message>
    <message>
        <source>Paired %1</source>
        <translation>%1 gekoppelt</translation>
    </message>
    <message>
        <source>You denied “%1”. It was not paired.</source>
        <translation>Sie haben „%1“ abgelehnt. Es wurde nicht gekoppelt.</translation>
    </message>
    <message>
        <source>No answer within 60 seconds, so “%1” was not paired.</source>
        <translation>Keine Antwort innerhalb von 60 Sekunden, daher wurde „%1“ nicht gekoppelt.</translation>
    </message>
    <message>
        <source>Could not pair %1: %2</source>
        <translation>%1 konnte nicht gekoppelt werden: %2</translation>
    </message>
    <message>
        <source>the device could not be saved</source>
        <translation>das Gerät konnte nicht gespeichert werden</translation>
    </message>
    <message>
        <source>Three wrong codes were entered, so pairing was closed.</source>
        <translation>Dreimal wurde ein falscher Code eingegeben, daher wurde die Kopplung geschlossen.</translation>
    </message>
    <message>
        <source>The code expired before a phone used it.</source>
        <translation>Der Code ist abgelaufen, bevor ein Telefon ihn benutzt hat.</translation>
    </message>
</context>
<context>
    <name>PairingView</name>
    <message>
        <source>Pair a phone or watch</source>
        <translation>Telefon oder Uhr koppeln</translation>
    </message>
    <message>
        <source>QR code of the pairing link, to scan with the phone</source>
        <translation>QR-Code des Kopplungslinks, zum Scannen mit dem Telefon</translation>
    </message>
    <message>
        <source>In Tamborix on your iPhone,
tap “Scan pairing QR code”.</source>
        <translation>Tippen Sie in Tamborix auf Ihrem iPhone
auf „Scan pairing QR code“.</translation>
    </message>
    <message>
        <source>Or type this code</source>
        <translation>Oder diesen Code eintippen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Pair Another</source>
        <translation>Weiteres koppeln</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Your phone shows this computer&apos;s key too: check that they match.</source>
        <translation>Ihr Telefon zeigt den Schlüssel dieses Computers auch: prüfen Sie, ob beide übereinstimmen.</translation>
    </message>
    <message>
        <source>Pairing code %1</source>
        <translation>Kopplungscode %1</translation>
    </message>
    <message>
        <source>Expires in %1 · works once</source>
        <translation>Läuft ab in %1 · gilt einmal</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Paired</source>
        <translation>Gekoppelt</translation>
    </message>
</context>
<context>
    <name>Portal</name>
    <message>
        <source>the clipboard cannot be shared on this desktop until remote control is allowed</source>
        <translation>die Zwischenablage kann auf diesem Desktop erst geteilt werden, wenn die Fernsteuerung erlaubt ist</translation>
    </message>
    <message>
        <source>the clipboard cannot be shared on this desktop (the desktop did not share its clipboard)</source>
        <translation>die Zwischenablage kann auf diesem Desktop nicht geteilt werden (der Desktop hat seine Zwischenablage nicht freigegeben)</translation>
    </message>
    <message>
        <source>Allow remote control in the desktop&apos;s dialog (it may be behind other windows); if it was refused, start the helper again.</source>
        <translation>Erlauben Sie die Fernsteuerung im Dialog des Desktops (er liegt vielleicht hinter anderen Fenstern); wurde sie abgelehnt, starten Sie den Helper neu.</translation>
    </message>
    <message>
        <source>waiting for the desktop&apos;s screen-sharing permission</source>
        <translation>wartet auf die Erlaubnis des Desktops zur Bildschirmfreigabe</translation>
    </message>
    <message>
        <source>waiting for the desktop&apos;s remote-control permission</source>
        <translation>wartet auf die Erlaubnis des Desktops zur Fernsteuerung</translation>
    </message>
    <message>
        <source>starting remote control with the desktop (it grants it without asking)</source>
        <translation>Fernsteuerung mit dem Desktop wird gestartet (er erlaubt sie ohne Nachfrage)</translation>
    </message>
    <message>
        <source>no remote-desktop portal in this session (%1)</source>
        <translation>kein Remote-Desktop-Portal in dieser Sitzung (%1)</translation>
    </message>
    <message>
        <source>the desktop offers no keyboard or pointer to remote control</source>
        <translation>der Desktop bietet keine Tastatur und keinen Zeiger zur Fernsteuerung</translation>
    </message>
    <message>
        <source>the remote-desktop portal gave no session</source>
        <translation>das Remote-Desktop-Portal hat keine Sitzung geliefert</translation>
    </message>
    <message>
        <source>the desktop did not share a keyboard or pointer</source>
        <translation>der Desktop hat weder Tastatur noch Zeiger freigegeben</translation>
    </message>
    <message>
        <source>the desktop shared no monitor</source>
        <translation>der Desktop hat keinen Monitor freigegeben</translation>
    </message>
    <message>
        <source>the desktop did not open the screen&apos;s PipeWire stream (%1)</source>
        <translation>der Desktop hat den PipeWire-Stream des Bildschirms nicht geöffnet (%1)</translation>
    </message>
    <message>
        <source>the desktop opened no PipeWire stream for the screen</source>
        <translation>der Desktop hat keinen PipeWire-Stream für den Bildschirm geöffnet</translation>
    </message>
    <message>
        <source>remote control allowed; the desktop grants it without asking</source>
        <translation>Fernsteuerung erlaubt; der Desktop erlaubt sie ohne Nachfrage</translation>
    </message>
    <message>
        <source>remote control allowed; the desktop keeps this permission</source>
        <translation>Fernsteuerung erlaubt; der Desktop behält diese Erlaubnis</translation>
    </message>
    <message>
        <source>remote control allowed for this run; the desktop asks again at every start (remote-desktop portal version 1)</source>
        <translation>Fernsteuerung für diesen Lauf erlaubt; der Desktop fragt bei jedem Start erneut (Remote-Desktop-Portal Version 1)</translation>
    </message>
    <message>
        <source>the desktop ended the remote-control session</source>
        <translation>der Desktop hat die Fernsteuerungssitzung beendet</translation>
    </message>
    <message>
        <source>remote control was refused in the desktop&apos;s dialog</source>
        <translation>die Fernsteuerung wurde im Dialog des Desktops abgelehnt</translation>
    </message>
    <message>
        <source>the remote-desktop portal failed (%1: %2)</source>
        <translation>das Remote-Desktop-Portal ist gescheitert (%1: %2)</translation>
    </message>
    <message>
        <source>the desktop ended the remote-control request</source>
        <translation>der Desktop hat die Anfrage zur Fernsteuerung beendet</translation>
    </message>
</context>
<context>
    <name>Store</name>
    <message>
        <source>Could not create the folder %1 for the paired devices</source>
        <translation>Der Ordner %1 für die gekoppelten Geräte konnte nicht angelegt werden</translation>
    </message>
    <message>
        <source>%1 could not be read; it is kept aside before the next save</source>
        <translation>%1 konnte nicht gelesen werden; die Datei wird vor dem nächsten Speichern beiseitegelegt</translation>
    </message>
    <message>
        <source>%1 could not be read (%2); it is kept aside before the next save</source>
        <translation>%1 konnte nicht gelesen werden (%2); die Datei wird vor dem nächsten Speichern beiseitegelegt</translation>
    </message>
    <message>
        <source>%1 could not be read; kept aside as %2</source>
        <translation>%1 konnte nicht gelesen werden; beiseitegelegt als %2</translation>
    </message>
    <message>
        <source>the unreadable file could not be moved aside</source>
        <translation>die unlesbare Datei konnte nicht beiseitegelegt werden</translation>
    </message>
    <message>
        <source>Could not save the paired devices to %1 (%2)</source>
        <translation>Die gekoppelten Geräte konnten nicht in %1 gespeichert werden (%2)</translation>
    </message>
</context>
<context>
    <name>Typing</name>
    <message>
        <source>Could not type “%1”: %2</source>
        <translation>„%1“ konnte nicht getippt werden: %2</translation>
    </message>
    <message>
        <source>the desktop&apos;s keyboard layout has no key for it</source>
        <translation>die Tastaturbelegung des Desktops hat keine Taste dafür</translation>
    </message>
    <message>
        <source>the keyboard layout has no key for it (a uinput keyboard cannot lend one)</source>
        <translation>die Tastaturbelegung hat keine Taste dafür (eine uinput-Tastatur kann keine leihen)</translation>
    </message>
    <message>
        <source>no key symbol stands for it</source>
        <translation>kein Tastensymbol steht dafür</translation>
    </message>
    <message>
        <source>the keyboard layout leaves too few keys free to lend</source>
        <translation>die Tastaturbelegung lässt zu wenige Tasten zum Leihen frei</translation>
    </message>
    <message>
        <source>it is a control character</source>
        <translation>es ist ein Steuerzeichen</translation>
    </message>
    <message>
        <source>the keyboard layout has no key for it and no spare keycode is left to lend</source>
        <translation>die Tastaturbelegung hat keine Taste dafür und kein freier Tastencode ist mehr zu leihen</translation>
    </message>
</context>
<context>
    <name>Wlroots</name>
    <message>
        <source>the compositor has no seat</source>
        <translation>der Compositor hat keinen Seat</translation>
    </message>
    <message>
        <source>the compositor offers no virtual pointer (zwlr_virtual_pointer_manager_v1)</source>
        <translation>der Compositor bietet keinen virtuellen Zeiger (zwlr_virtual_pointer_manager_v1)</translation>
    </message>
    <message>
        <source>the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)</source>
        <translation>der Compositor bietet keine virtuelle Tastatur (zwp_virtual_keyboard_manager_v1)</translation>
    </message>
    <message>
        <source>the compositor refused the virtual devices</source>
        <translation>der Compositor hat die virtuellen Geräte abgelehnt</translation>
    </message>
    <message>
        <source>the compositor offers no screencopy (zwlr_screencopy_manager_v1)</source>
        <translation>der Compositor bietet kein screencopy (zwlr_screencopy_manager_v1)</translation>
    </message>
    <message>
        <source>the compositor offers no layer shell (zwlr_layer_shell_v1)</source>
        <translation>der Compositor bietet keine Layer-Shell (zwlr_layer_shell_v1)</translation>
    </message>
    <message>
        <source>the compositor offers no surfaces in shared memory</source>
        <translation>der Compositor bietet keine Flächen in gemeinsamem Speicher</translation>
    </message>
</context>
<context>
    <name>X11</name>
    <message>
        <source>lost the connection to display %1</source>
        <translation>die Verbindung zu Display %1 ist verloren</translation>
    </message>
    <message>
        <source>no X11 XTEST extension on display %1</source>
        <translation>keine X11-Erweiterung XTEST auf Display %1</translation>
    </message>
    <message>
        <source>Start the helper again from your desktop session.</source>
        <translation>Starten Sie den Helper erneut aus Ihrer Desktop-Sitzung.</translation>
    </message>
    <message>
        <source>Log in to a desktop session whose X server has the XTEST extension (Xorg has it).</source>
        <translation>Melden Sie sich in einer Desktop-Sitzung an, deren X-Server die Erweiterung XTEST hat (Xorg hat sie).</translation>
    </message>
    <message>
        <source>Check the keyboard layout in your desktop&apos;s settings, then start the helper again.</source>
        <translation>Prüfen Sie die Tastaturbelegung in den Einstellungen Ihres Desktops und starten Sie den Helper dann neu.</translation>
    </message>
    <message>
        <source>the X connection to %1 was lost</source>
        <translation>die X-Verbindung zu %1 ist verloren</translation>
    </message>
</context>
</TS>
