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
    <name>Application</name>
    <message>
        <source>Un autre programme Nimbora gère déjà une connexion sur cet ordinateur. Ce programme va se fermer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nimbora ne peut pas s&apos;assurer d&apos;être le seul programme à gérer la connexion (%1). Ce programme va se fermer.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Authentication</name>
    <message>
        <source>Authentification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nom d&apos;utilisateur :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mot de passe :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connexion automatique</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Créer un nouveau compte</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>LOGIN &gt;&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Patientez...</source>
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
        <source>Modifier les paramètres de connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur d&apos;authentification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Les identifiants que vous avez entrés sont incorrects. Vérifiez que votre compte a bien été créé et validé.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Exceptions</name>
    <message>
        <source>Redirections statiques</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Description :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nom de domaine ou adresse IP :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Redirection invalide</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Une redirection doit avoir une destination valide.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ExceptionsTableModel</name>
    <message>
        <source>Description</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Destination</source>
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
<context>
    <name>MainWindow</name>
    <message>
        <source>Serveurs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ports</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Compte</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Abonnement :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Bande passante :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nombre de ports :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Gérer vos abonnements</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fermer la session</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Journal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quitter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Etes vous sûr ?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous êtes toujours connecté, souhaitez vous vraiment quitter Nimbora ?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Déconnexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur automatique</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de trouver un serveur automatiquement pour le protocole choisi. Merci de sélectionner un serveur manuellement.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur premium</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre est réservé aux utilisateurs ayants un abonnement actif. Vous pouvez gérer vos abonnements en cliquant sur le bouton &quot;Gérer vos abonnements&quot; dans l&apos;onglet &quot;Compte&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port existant</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous avez déjà ajouté ce port à votre liste.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Plus de ports disponibles</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous utilisez déjà tous les ports disponibles avec votre abonnement.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Déjà connecté</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous êtes déjà connecté à Nimbora depuis un autre ordinateur. Si ce n&apos;est pas le cas, réessayez de vous connecter dans quelques instants.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur inaccessible</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre n&apos;est pas accessible.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur réservé</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous n&apos;êtes pas autorisé à rejoindre ce serveur.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur plein</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre est plein.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre a atteint son seuil de saturation.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Interface par défaut manquante</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de trouver l&apos;interface par défaut.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur SOCKS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le port du serveur SOCKS est déjà utilisé.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous avez été déconnecté du serveur.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur inconnue</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Une erreur inconnue est survenue.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur dns</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de résoudre le nom de domaine du serveur.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connection refusée</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de se connecter au serveur. Veuillez essayer un autre serveur ou un autre protocole.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pas de réponse</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur ne répond pas.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur proxy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur proxy a retourné une erreur.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le serveur proxy ne répond pas.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Impossible de se connecter au serveur proxy.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur d&apos;authentification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>L&apos;authentification a été refusée par le serveur.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Interface occupée</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>L&apos;interface réseau de Nimbora est désactivée ou occupée par un autre programme.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aucune interface</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aucune interface réseau Nimbora n&apos;est installée. Relancez Nimbora.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aucune</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Automatique</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Méthode d&apos;authentification du serveur proxy inconnue.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>La méthode d&apos;authentification du serveur proxy est inconnue.
Veuillez en choisir une :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>illimitée</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mode gratuit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Votre abonnement actuel est en mode gratuit et est donc limité à %1. Pour obtenir une meilleure bande-passante, cliquez sur le bouton &apos;%2&apos; et choisissez l&apos;abonnement qui vous convient.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connexion...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Patientez...</source>
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
        <source>Modifier les paramètres de connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Session expirée</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Votre session a expirée, veuillez vous reconnecter.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Déconnexion</source>
        <comment>message box title</comment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le trafic est bloqué : la connexion à Nimbora est perdue et aucun trafic ne sort hors du tunnel.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Débloquer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nimbora : trafic bloqué</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Trafic bloqué</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le trafic n&apos;a pas pu être débloqué : %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NetworkCheck</name>
    <message>
        <source>Diagnostique de connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Annuler</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lancer le diagnostique</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Patientez...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sauvegarder les modifications</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Une configuration a été trouvée, veuillez cliquer sur &apos;%1&apos; pour la mettre en place.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quitter</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aucune configuration n&apos;a été trouvée, veuillez contacter le support.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NetworkCheckWork</name>
    <message>
        <source>Sans proxy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Proxy système</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Proxy manuel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Domaine par défaut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Adresse IP par défaut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Domaine courant</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Contenu invalide</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ECHEC</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Options</name>
    <message>
        <source>Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Langue :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lancer Nimbora au démarrage de l&apos;ordinateur</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Démarrer Nimbora réduit dans la zone de notification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Se connecter automatiquement à Nimbora après l&apos;authentification</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Se reconnecter automatiquement en cas de déconnexion de Nimbora</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rechercher les mises à jour optionnelles au démarrage</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cette option ne concerne que les mises à jour optionnelles. A chaque démarrage de l&apos;application, des recherches de mises à jour obligatoires sont toujours effectuées pour des questions de compatibilité avec les serveurs Nimbora.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Configuration du serveur principal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Adresse du serveur principal :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connexion sécurisée</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Configuration du serveur proxy pour accéder à Internet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pas de proxy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Utiliser les paramètres proxy du système</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Configuration manuelle du proxy :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Proxy HTTP :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hôte SOCKS :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Configuration du HTTP user-agent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User-agents prédéfinis :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mozilla Firefox</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Internet Explorer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>iPhone Safari</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Personnalisé...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Se connecter avec l&apos;adresse IP du serveur</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cette option est utile dans le cas où le serveur proxy bloque le nom de domaine utilisé par le serveur Nimbora. Certains serveurs proxies n&apos;autorisent pas la connexion par adresse IP.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Utiliser Nimbora comme serveur DNS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cette option permet de cacher les requêtes DNS en les effectuant sur le serveur Nimbora.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rediriger toutes les applications vers Nimbora</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Désactiver les paramètres du proxy système à la connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Conserver la route de la passerelle par défaut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Augmente la stabilité mais peut être incompatible avec certaines applications ou jeux.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exceptions</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Redirection dynamique</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port d&apos;écoute du serveur SOCKS :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Vous devrez configurer vos applications pour qu&apos;elles utilisent l&apos;hôte SOCKS à l&apos;adresse 127.0.0.1 et sur le port choisit. Si vous ne pouvez pas configurer une application de cette manière, vous pouvez utiliser un socksifier (ou client SOCKS).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Liste des redirections statiques...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Méthode d&apos;attribution de l&apos;adresse IP :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Par défaut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Général</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connexion</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Camouflage</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Réseau</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Bloquer tout le trafic hors de Nimbora, même en cas de coupure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Du début de la connexion jusqu&apos;à la déconnexion, seul le trafic du tunnel sort de l&apos;ordinateur. IPv6 est toujours bloqué pendant la redirection.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Autoriser le réseau local</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ProxyAuthentication</name>
    <message>
        <source>Authentification Proxy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Informations</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Adresse :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nom :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nom d&apos;utilisateur :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mot de passe :</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connexion automatique</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ServersTreeModel</name>
    <message>
        <source>Belgique</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Canada</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Suisse</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>République Tchèque</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Allemagne</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Espagne</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Finlande</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>France</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Italie</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lituanie</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pays-Bas</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pologne</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Portugal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Royaumes-Unis</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Etats-Unis</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Le plus rapide</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erreur</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serveur</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Latence</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TunnelSettings</name>
    <message>
        <source>Paramètres</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paramètres du tunnel HTTP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Envoyer les données sous la forme d&apos;un flux HTTP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Simuler un upload de fichier plutôt qu&apos;un envoi de formulaire</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Par défaut</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
