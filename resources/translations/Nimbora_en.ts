<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="fr_FR">
<context>
    <name>AddPortMapping</name>
    <message>
        <source>Ajout de port</source>
        <translation>Add a port</translation>
    </message>
    <message>
        <source>Description :</source>
        <translation>Description:</translation>
    </message>
    <message>
        <source>Port distant :</source>
        <translation>Remote port:</translation>
    </message>
    <message>
        <source>Port local :</source>
        <translation>Local port:</translation>
    </message>
    <message>
        <source>Votre ordinateur sera accessible depuis Internet sur le port choisi</source>
        <translation>Your computer will be reachable from the Internet on the chosen port</translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>Chargement de Nimbora...</source>
        <translation>Loading Nimbora...</translation>
    </message>
    <message>
        <source>Impossible d&apos;installer l&apos;interface VPN</source>
        <translation>Unable to install the VPN interface</translation>
    </message>
    <message>
        <source>L&apos;interface VPN n&apos;a pas pu être installée. Vérifiez d&apos;avoir les droits nécessaires.</source>
        <translation>The VPN interface could not be installed. Check that you have the necessary rights.</translation>
    </message>
    <message>
        <source>Impossible de trouver l&apos;interface VPN</source>
        <translation>Unable to find the VPN interface</translation>
    </message>
    <message>
        <source>L&apos;interface VPN n&apos;a pas pu être trouvée. Veuillez réinstaller Nimbora.</source>
        <translation>The VPN interface could not be found. Please reinstall Nimbora.</translation>
    </message>
    <message>
        <source>Erreur inconnue</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Une erreur inconnue est survenue, veuillez vérifier votre installation</source>
        <translation>An unknown error occurred, please check your installation</translation>
    </message>
    <message>
        <source>Impossible de contacter le serveur principal</source>
        <translation>Unable to contact the main server</translation>
    </message>
    <message>
        <source>Impossible de contacter le serveur principal. Vérifiez que vous êtes bien connecté à Internet et que vos paramètres de connexion sont valides.</source>
        <translation>Unable to contact the main server. Check that you are connected to the Internet and that your connection settings are valid.</translation>
    </message>
    <message>
        <source>Diagnostique de connexion</source>
        <translation>Connection diagnostic</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>Réessayer</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>Nouvelle version obligatoire disponible</source>
        <translation>New mandatory version available</translation>
    </message>
    <message>
        <source>Une nouvelle version obligatoire est disponible. Pour des raisons de compatibilité avec les serveurs Nimbora, vous devez télécharger cette nouvelle version pour continuer.</source>
        <translation>A new mandatory version is available. For compatibility with the Nimbora servers, you must download this new version to continue.</translation>
    </message>
    <message>
        <source>Aller vers la page de téléchargement de Nimbora</source>
        <translation>Go to the Nimbora download page</translation>
    </message>
    <message>
        <source>Nouvelle version disponible</source>
        <translation>New version available</translation>
    </message>
    <message>
        <source>Une nouvelle version est disponible. Cette version n&apos;est pas obligatoire mais conseillée, elle peut apporter de meilleures performances, une meilleure compatibilité ou de nouvelles fonctionnalités.</source>
        <translation>A new version is available. This version is not mandatory but recommended: it may bring better performance, better compatibility or new features.</translation>
    </message>
    <message>
        <source>Plus tard</source>
        <translation>Later</translation>
    </message>
</context>
</TS>
