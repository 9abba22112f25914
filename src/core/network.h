#pragma once
// The application's one HTTP client. It lives on the main thread and is only
// used from there: replies are delivered to the coroutines awaiting them on
// that thread, so nothing else ever touches a request in flight.

class QNetworkAccessManager;

// Created on first use, owned by the application object.
QNetworkAccessManager &sharedNetworkManager();
