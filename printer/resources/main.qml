import QtQuick 2.3
import QtQuick.Window 2.2
import MyClient 1.0

// The printer's scene: the projection page, with the session in it.
ProjectionPage {
    ImageClient {
        id: myImageClient
    }
}
