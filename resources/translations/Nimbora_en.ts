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
    <name>Application</name>
    <message>
        <source>Un autre programme Nimbora gère déjà une connexion sur cet ordinateur. Ce programme va se fermer.</source>
        <translation>Another Nimbora program is already managing a connection on this computer. This program will now close.</translation>
    </message>
    <message>
        <source>Nimbora ne peut pas s&apos;assurer d&apos;être le seul programme à gérer la connexion (%1). Ce programme va se fermer.</source>
        <translation>Nimbora cannot make sure it is the only program managing the connection (%1). This program will now close.</translation>
    </message>
</context>
<context>
    <name>Authentication</name>
    <message>
        <source>Authentification</source>
        <translation>Authentication</translation>
    </message>
    <message>
        <source>Nom d&apos;utilisateur :</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>Mot de passe :</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Connexion automatique</source>
        <translation>Log in automatically</translation>
    </message>
    <message>
        <source>Créer un nouveau compte</source>
        <translation>Create a new account</translation>
    </message>
    <message>
        <source>LOGIN &gt;&gt;</source>
        <translation>LOGIN &gt;&gt;</translation>
    </message>
    <message>
        <source>Patientez...</source>
        <translation>Please wait...</translation>
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
        <source>Modifier les paramètres de connexion</source>
        <translation>Change the connection settings</translation>
    </message>
    <message>
        <source>Erreur d&apos;authentification</source>
        <translation>Authentication error</translation>
    </message>
    <message>
        <source>Les identifiants que vous avez entrés sont incorrects. Vérifiez que votre compte a bien été créé et validé.</source>
        <translation>The credentials you entered are incorrect. Check that your account has been created and confirmed.</translation>
    </message>
</context>
<context>
    <name>Exceptions</name>
    <message>
        <source>Redirections statiques</source>
        <translation>Static redirections</translation>
    </message>
    <message>
        <source>Description :</source>
        <translation>Description:</translation>
    </message>
    <message>
        <source>Nom de domaine ou adresse IP :</source>
        <translation>Domain name or IP address:</translation>
    </message>
    <message>
        <source>Redirection invalide</source>
        <translation>Invalid redirection</translation>
    </message>
    <message>
        <source>Une redirection doit avoir une destination valide.</source>
        <translation>A redirection must have a valid destination.</translation>
    </message>
</context>
<context>
    <name>ExceptionsTableModel</name>
    <message>
        <source>Description</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Destination</source>
        <translation>Destination</translation>
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
<context>
    <name>MainWindow</name>
    <message>
        <source>Serveurs</source>
        <translation>Servers</translation>
    </message>
    <message>
        <source>Ports</source>
        <translation>Ports</translation>
    </message>
    <message>
        <source>Compte</source>
        <translation>Account</translation>
    </message>
    <message>
        <source>Abonnement :</source>
        <translation>Subscription:</translation>
    </message>
    <message>
        <source>Bande passante :</source>
        <translation>Bandwidth:</translation>
    </message>
    <message>
        <source>Nombre de ports :</source>
        <translation>Number of ports:</translation>
    </message>
    <message>
        <source>Gérer vos abonnements</source>
        <translation>Manage your subscriptions</translation>
    </message>
    <message>
        <source>Fermer la session</source>
        <translation>Log out</translation>
    </message>
    <message>
        <source>Journal</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>Connexion</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>Quitter</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Etes vous sûr ?</source>
        <translation>Are you sure?</translation>
    </message>
    <message>
        <source>Vous êtes toujours connecté, souhaitez vous vraiment quitter Nimbora ?</source>
        <translation>You are still connected. Do you really want to quit Nimbora?</translation>
    </message>
    <message>
        <source>Déconnexion</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Serveur automatique</source>
        <translation>Automatic server</translation>
    </message>
    <message>
        <source>Impossible de trouver un serveur automatiquement pour le protocole choisi. Merci de sélectionner un serveur manuellement.</source>
        <translation>Unable to find a server automatically for the chosen protocol. Please select a server manually.</translation>
    </message>
    <message>
        <source>Serveur premium</source>
        <translation>Premium server</translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre est réservé aux utilisateurs ayants un abonnement actif. Vous pouvez gérer vos abonnements en cliquant sur le bouton &quot;Gérer vos abonnements&quot; dans l&apos;onglet &quot;Compte&quot;.</source>
        <translation>The server you are trying to reach is reserved for users with an active subscription. You can manage your subscriptions by clicking the &quot;Manage your subscriptions&quot; button in the &quot;Account&quot; tab.</translation>
    </message>
    <message>
        <source>Port existant</source>
        <translation>Existing port</translation>
    </message>
    <message>
        <source>Vous avez déjà ajouté ce port à votre liste.</source>
        <translation>You have already added this port to your list.</translation>
    </message>
    <message>
        <source>Plus de ports disponibles</source>
        <translation>No more ports available</translation>
    </message>
    <message>
        <source>Vous utilisez déjà tous les ports disponibles avec votre abonnement.</source>
        <translation>You are already using all the ports available with your subscription.</translation>
    </message>
    <message>
        <source>Déjà connecté</source>
        <translation>Already connected</translation>
    </message>
    <message>
        <source>Vous êtes déjà connecté à Nimbora depuis un autre ordinateur. Si ce n&apos;est pas le cas, réessayez de vous connecter dans quelques instants.</source>
        <translation>You are already connected to Nimbora from another computer. If that is not the case, try to connect again in a few moments.</translation>
    </message>
    <message>
        <source>Serveur inaccessible</source>
        <translation>Server unreachable</translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre n&apos;est pas accessible.</source>
        <translation>The server you are trying to reach cannot be reached.</translation>
    </message>
    <message>
        <source>Serveur réservé</source>
        <translation>Restricted server</translation>
    </message>
    <message>
        <source>Vous n&apos;êtes pas autorisé à rejoindre ce serveur.</source>
        <translation>You are not allowed to join this server.</translation>
    </message>
    <message>
        <source>Serveur plein</source>
        <translation>Server full</translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre est plein.</source>
        <translation>The server you are trying to reach is full.</translation>
    </message>
    <message>
        <source>Le serveur que vous essayez de joindre a atteint son seuil de saturation.</source>
        <translation>The server you are trying to reach has reached its capacity limit.</translation>
    </message>
    <message>
        <source>Interface par défaut manquante</source>
        <translation>Default interface missing</translation>
    </message>
    <message>
        <source>Impossible de trouver l&apos;interface par défaut.</source>
        <translation>Unable to find the default interface.</translation>
    </message>
    <message>
        <source>Serveur SOCKS</source>
        <translation>SOCKS server</translation>
    </message>
    <message>
        <source>Le port du serveur SOCKS est déjà utilisé.</source>
        <translation>The SOCKS server port is already in use.</translation>
    </message>
    <message>
        <source>Vous avez été déconnecté du serveur.</source>
        <translation>You have been disconnected from the server.</translation>
    </message>
    <message>
        <source>Erreur inconnue</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Une erreur inconnue est survenue.</source>
        <translation>An unknown error occurred.</translation>
    </message>
    <message>
        <source>Erreur dns</source>
        <translation>DNS error</translation>
    </message>
    <message>
        <source>Impossible de résoudre le nom de domaine du serveur.</source>
        <translation>Unable to resolve the server&apos;s domain name.</translation>
    </message>
    <message>
        <source>Connection refusée</source>
        <translation>Connection refused</translation>
    </message>
    <message>
        <source>Impossible de se connecter au serveur. Veuillez essayer un autre serveur ou un autre protocole.</source>
        <translation>Unable to connect to the server. Please try another server or another protocol.</translation>
    </message>
    <message>
        <source>Pas de réponse</source>
        <translation>No response</translation>
    </message>
    <message>
        <source>Le serveur ne répond pas.</source>
        <translation>The server is not responding.</translation>
    </message>
    <message>
        <source>Erreur proxy</source>
        <translation>Proxy error</translation>
    </message>
    <message>
        <source>Le serveur proxy a retourné une erreur.</source>
        <translation>The proxy server returned an error.</translation>
    </message>
    <message>
        <source>Le serveur proxy ne répond pas.</source>
        <translation>The proxy server is not responding.</translation>
    </message>
    <message>
        <source>Impossible de se connecter au serveur proxy.</source>
        <translation>Unable to connect to the proxy server.</translation>
    </message>
    <message>
        <source>Erreur d&apos;authentification</source>
        <translation>Authentication error</translation>
    </message>
    <message>
        <source>L&apos;authentification a été refusée par le serveur.</source>
        <translation>Authentication was refused by the server.</translation>
    </message>
    <message>
        <source>Interface occupée</source>
        <translation>Interface busy</translation>
    </message>
    <message>
        <source>L&apos;interface réseau de Nimbora est désactivée ou occupée par un autre programme.</source>
        <translation>The Nimbora network interface is disabled or in use by another program.</translation>
    </message>
    <message>
        <source>Aucune interface</source>
        <translation>No interface</translation>
    </message>
    <message>
        <source>Aucune interface réseau Nimbora n&apos;est installée. Relancez Nimbora.</source>
        <translation>No Nimbora network interface is installed. Restart Nimbora.</translation>
    </message>
    <message>
        <source>Aucune</source>
        <translation>None</translation>
    </message>
    <message>
        <source>Automatique</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>Méthode d&apos;authentification du serveur proxy inconnue.</source>
        <translation>Unknown proxy server authentication method.</translation>
    </message>
    <message>
        <source>La méthode d&apos;authentification du serveur proxy est inconnue.
Veuillez en choisir une :</source>
        <translation>The proxy server authentication method is unknown.
Please choose one:</translation>
    </message>
    <message>
        <source>illimitée</source>
        <translation>unlimited</translation>
    </message>
    <message>
        <source>Mode gratuit</source>
        <translation>Free mode</translation>
    </message>
    <message>
        <source>Votre abonnement actuel est en mode gratuit et est donc limité à %1. Pour obtenir une meilleure bande-passante, cliquez sur le bouton &apos;%2&apos; et choisissez l&apos;abonnement qui vous convient.</source>
        <translation>Your current subscription is in free mode and is therefore limited to %1. For more bandwidth, click the &apos;%2&apos; button and choose the subscription that suits you.</translation>
    </message>
    <message>
        <source>Connexion...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>Patientez...</source>
        <translation>Please wait...</translation>
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
        <source>Modifier les paramètres de connexion</source>
        <translation>Change the connection settings</translation>
    </message>
    <message>
        <source>Session expirée</source>
        <translation>Session expired</translation>
    </message>
    <message>
        <source>Votre session a expirée, veuillez vous reconnecter.</source>
        <translation>Your session has expired, please log in again.</translation>
    </message>
    <message>
        <source>Déconnexion</source>
        <comment>message box title</comment>
        <translation>Disconnected</translation>
    </message>
    <message>
        <source>Le trafic est bloqué : la connexion à Nimbora est perdue et aucun trafic ne sort hors du tunnel.</source>
        <translation>Traffic is blocked: the connection to Nimbora was lost and no traffic leaves outside the tunnel.</translation>
    </message>
    <message>
        <source>Débloquer</source>
        <translation>Unblock</translation>
    </message>
    <message>
        <source>Nimbora : trafic bloqué</source>
        <translation>Nimbora: traffic blocked</translation>
    </message>
    <message>
        <source>Trafic bloqué</source>
        <translation>Traffic blocked</translation>
    </message>
    <message>
        <source>Le trafic n&apos;a pas pu être débloqué : %1</source>
        <translation>The traffic could not be unblocked: %1</translation>
    </message>
</context>
<context>
    <name>NetworkCheck</name>
    <message>
        <source>Diagnostique de connexion</source>
        <translation>Connection diagnostic</translation>
    </message>
    <message>
        <source>Annuler</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Lancer le diagnostique</source>
        <translation>Run the diagnostic</translation>
    </message>
    <message>
        <source>Patientez...</source>
        <translation>Please wait...</translation>
    </message>
    <message>
        <source>Sauvegarder les modifications</source>
        <translation>Save changes</translation>
    </message>
    <message>
        <source>Une configuration a été trouvée, veuillez cliquer sur &apos;%1&apos; pour la mettre en place.</source>
        <translation>A configuration was found, please click &apos;%1&apos; to apply it.</translation>
    </message>
    <message>
        <source>Quitter</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Aucune configuration n&apos;a été trouvée, veuillez contacter le support.</source>
        <translation>No configuration was found, please contact support.</translation>
    </message>
</context>
<context>
    <name>NetworkCheckWork</name>
    <message>
        <source>Sans proxy</source>
        <translation>No proxy</translation>
    </message>
    <message>
        <source>Proxy système</source>
        <translation>System proxy</translation>
    </message>
    <message>
        <source>Proxy manuel</source>
        <translation>Manual proxy</translation>
    </message>
    <message>
        <source>Domaine par défaut</source>
        <translation>Default domain</translation>
    </message>
    <message>
        <source>Adresse IP par défaut</source>
        <translation>Default IP address</translation>
    </message>
    <message>
        <source>Domaine courant</source>
        <translation>Current domain</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Contenu invalide</source>
        <translation>Invalid content</translation>
    </message>
    <message>
        <source>ECHEC</source>
        <translation>FAILED</translation>
    </message>
</context>
<context>
    <name>Options</name>
    <message>
        <source>Options</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>Langue :</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>Lancer Nimbora au démarrage de l&apos;ordinateur</source>
        <translation>Start Nimbora when the computer starts</translation>
    </message>
    <message>
        <source>Démarrer Nimbora réduit dans la zone de notification</source>
        <translation>Start Nimbora minimized to the notification area</translation>
    </message>
    <message>
        <source>Se connecter automatiquement à Nimbora après l&apos;authentification</source>
        <translation>Connect to Nimbora automatically after logging in</translation>
    </message>
    <message>
        <source>Se reconnecter automatiquement en cas de déconnexion de Nimbora</source>
        <translation>Reconnect automatically when disconnected from Nimbora</translation>
    </message>
    <message>
        <source>Rechercher les mises à jour optionnelles au démarrage</source>
        <translation>Check for optional updates at start-up</translation>
    </message>
    <message>
        <source>Cette option ne concerne que les mises à jour optionnelles. A chaque démarrage de l&apos;application, des recherches de mises à jour obligatoires sont toujours effectuées pour des questions de compatibilité avec les serveurs Nimbora.</source>
        <translation>This option only concerns optional updates. Every time the application starts, it always checks for mandatory updates, for compatibility with the Nimbora servers.</translation>
    </message>
    <message>
        <source>Configuration du serveur principal</source>
        <translation>Main server configuration</translation>
    </message>
    <message>
        <source>Adresse du serveur principal :</source>
        <translation>Main server address:</translation>
    </message>
    <message>
        <source>Connexion sécurisée</source>
        <translation>Secure connection</translation>
    </message>
    <message>
        <source>Configuration du serveur proxy pour accéder à Internet</source>
        <translation>Proxy server configuration for Internet access</translation>
    </message>
    <message>
        <source>Pas de proxy</source>
        <translation>No proxy</translation>
    </message>
    <message>
        <source>Utiliser les paramètres proxy du système</source>
        <translation>Use the system proxy settings</translation>
    </message>
    <message>
        <source>Configuration manuelle du proxy :</source>
        <translation>Manual proxy configuration:</translation>
    </message>
    <message>
        <source>Proxy HTTP :</source>
        <translation>HTTP proxy:</translation>
    </message>
    <message>
        <source>Port :</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Hôte SOCKS :</source>
        <translation>SOCKS host:</translation>
    </message>
    <message>
        <source>Configuration du HTTP user-agent</source>
        <translation>HTTP user agent configuration</translation>
    </message>
    <message>
        <source>User-agents prédéfinis :</source>
        <translation>Predefined user agents:</translation>
    </message>
    <message>
        <source>Mozilla Firefox</source>
        <translation>Mozilla Firefox</translation>
    </message>
    <message>
        <source>Internet Explorer</source>
        <translation>Internet Explorer</translation>
    </message>
    <message>
        <source>iPhone Safari</source>
        <translation>iPhone Safari</translation>
    </message>
    <message>
        <source>Personnalisé...</source>
        <translation>Custom...</translation>
    </message>
    <message>
        <source>Se connecter avec l&apos;adresse IP du serveur</source>
        <translation>Connect using the server&apos;s IP address</translation>
    </message>
    <message>
        <source>Cette option est utile dans le cas où le serveur proxy bloque le nom de domaine utilisé par le serveur Nimbora. Certains serveurs proxies n&apos;autorisent pas la connexion par adresse IP.</source>
        <translation>This option is useful when the proxy server blocks the domain name used by the Nimbora server. Some proxy servers do not allow connecting by IP address.</translation>
    </message>
    <message>
        <source>Utiliser Nimbora comme serveur DNS</source>
        <translation>Use Nimbora as DNS server</translation>
    </message>
    <message>
        <source>Cette option permet de cacher les requêtes DNS en les effectuant sur le serveur Nimbora.</source>
        <translation>This option hides your DNS requests by making them on the Nimbora server.</translation>
    </message>
    <message>
        <source>Rediriger toutes les applications vers Nimbora</source>
        <translation>Redirect all applications through Nimbora</translation>
    </message>
    <message>
        <source>Désactiver les paramètres du proxy système à la connexion</source>
        <translation>Disable the system proxy settings when connecting</translation>
    </message>
    <message>
        <source>Conserver la route de la passerelle par défaut</source>
        <translation>Keep the default gateway route</translation>
    </message>
    <message>
        <source>Augmente la stabilité mais peut être incompatible avec certaines applications ou jeux.</source>
        <translation>Improves stability but may be incompatible with some applications or games.</translation>
    </message>
    <message>
        <source>Exceptions</source>
        <translation>Exceptions</translation>
    </message>
    <message>
        <source>Redirection dynamique</source>
        <translation>Dynamic redirection</translation>
    </message>
    <message>
        <source>Port d&apos;écoute du serveur SOCKS :</source>
        <translation>SOCKS server listening port:</translation>
    </message>
    <message>
        <source>Vous devrez configurer vos applications pour qu&apos;elles utilisent l&apos;hôte SOCKS à l&apos;adresse 127.0.0.1 et sur le port choisit. Si vous ne pouvez pas configurer une application de cette manière, vous pouvez utiliser un socksifier (ou client SOCKS).</source>
        <translation>You will have to configure your applications to use the SOCKS host at address 127.0.0.1 on the chosen port. If you cannot configure an application this way, you can use a socksifier (or SOCKS client).</translation>
    </message>
    <message>
        <source>Liste des redirections statiques...</source>
        <translation>Static redirection list...</translation>
    </message>
    <message>
        <source>Méthode d&apos;attribution de l&apos;adresse IP :</source>
        <translation>IP address assignment method:</translation>
    </message>
    <message>
        <source>Par défaut</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>Général</source>
        <translation>General</translation>
    </message>
    <message>
        <source>Connexion</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>Camouflage</source>
        <translation>Stealth</translation>
    </message>
    <message>
        <source>Réseau</source>
        <translation>Network</translation>
    </message>
    <message>
        <source>Bloquer tout le trafic hors de Nimbora, même en cas de coupure</source>
        <translation>Block all traffic outside Nimbora, even when the connection drops</translation>
    </message>
    <message>
        <source>Du début de la connexion jusqu&apos;à la déconnexion, seul le trafic du tunnel sort de l&apos;ordinateur. IPv6 est toujours bloqué pendant la redirection.</source>
        <translation>From the start of the connection until you disconnect, only the tunnel&apos;s traffic leaves the computer. IPv6 is always blocked while redirecting.</translation>
    </message>
    <message>
        <source>Autoriser le réseau local</source>
        <translation>Allow the local network</translation>
    </message>
</context>
<context>
    <name>ProxyAuthentication</name>
    <message>
        <source>Authentification Proxy</source>
        <translation>Proxy Authentication</translation>
    </message>
    <message>
        <source>Informations</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Adresse :</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>Nom :</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Nom d&apos;utilisateur :</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>Mot de passe :</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Connexion automatique</source>
        <translation>Log in automatically</translation>
    </message>
</context>
<context>
    <name>ServersTreeModel</name>
    <message>
        <source>Belgique</source>
        <translation>Belgium</translation>
    </message>
    <message>
        <source>Canada</source>
        <translation>Canada</translation>
    </message>
    <message>
        <source>Suisse</source>
        <translation>Switzerland</translation>
    </message>
    <message>
        <source>République Tchèque</source>
        <translation>Czech Republic</translation>
    </message>
    <message>
        <source>Allemagne</source>
        <translation>Germany</translation>
    </message>
    <message>
        <source>Espagne</source>
        <translation>Spain</translation>
    </message>
    <message>
        <source>Finlande</source>
        <translation>Finland</translation>
    </message>
    <message>
        <source>France</source>
        <translation>France</translation>
    </message>
    <message>
        <source>Italie</source>
        <translation>Italy</translation>
    </message>
    <message>
        <source>Lituanie</source>
        <translation>Lithuania</translation>
    </message>
    <message>
        <source>Pays-Bas</source>
        <translation>Netherlands</translation>
    </message>
    <message>
        <source>Pologne</source>
        <translation>Poland</translation>
    </message>
    <message>
        <source>Portugal</source>
        <translation>Portugal</translation>
    </message>
    <message>
        <source>Royaumes-Unis</source>
        <translation>United Kingdom</translation>
    </message>
    <message>
        <source>Etats-Unis</source>
        <translation>United States</translation>
    </message>
    <message>
        <source>Le plus rapide</source>
        <translation>Fastest</translation>
    </message>
    <message>
        <source>Erreur</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Serveur</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Latence</source>
        <translation>Latency</translation>
    </message>
</context>
<context>
    <name>TunnelSettings</name>
    <message>
        <source>Paramètres</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Paramètres du tunnel HTTP</source>
        <translation>HTTP tunnel settings</translation>
    </message>
    <message>
        <source>Envoyer les données sous la forme d&apos;un flux HTTP</source>
        <translation>Send the data as an HTTP stream</translation>
    </message>
    <message>
        <source>Simuler un upload de fichier plutôt qu&apos;un envoi de formulaire</source>
        <translation>Simulate a file upload rather than a form submission</translation>
    </message>
    <message>
        <source>Par défaut</source>
        <translation>Default</translation>
    </message>
</context>
</TS>
