<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="fr_FR">
<context>
    <name>AddPortMapping</name>
    <message>
        <source>Ajout de port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Description :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port distant :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port local :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Votre ordinateur sera accessible depuis Internet sur le port choisi</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Launcher</name>
    <message>
        <source>Chargement de Nimbora...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible d&apos;installer l&apos;interface VPN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>L&apos;interface VPN n&apos;a pas pu être installée. Vérifiez d&apos;avoir les droits nécessaires.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de trouver l&apos;interface VPN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>L&apos;interface VPN n&apos;a pas pu être trouvée. Veuillez réinstaller Nimbora.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur inconnue</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Une erreur inconnue est survenue, veuillez vérifier votre installation</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de contacter le serveur principal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de contacter le serveur principal. Vérifiez que vous êtes bien connecté à Internet et que vos paramètres de connexion sont valides.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Diagnostique de connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Réessayer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nouvelle version obligatoire disponible</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Une nouvelle version obligatoire est disponible. Pour des raisons de compatibilité avec les serveurs Nimbora, vous devez télécharger cette nouvelle version pour continuer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aller vers la page de téléchargement de Nimbora</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nouvelle version disponible</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Une nouvelle version est disponible. Cette version n&apos;est pas obligatoire mais conseillée, elle peut apporter de meilleures performances, une meilleure compatibilité ou de nouvelles fonctionnalités.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Plus tard</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
