import QtQuick

// A cover picture in a rounded box.  Without a picture, or when it can't be
// loaded, the box shows the "no artwork" mark (notes on a soft gradient, as
// in resources/photos/no_artwork.png) drawn at the box's size.
Rectangle {
    id: art

    // a cover path or URL as the rows carry it ("", "no" and the
    // placeholder's URL mean none)
    property string cover
    property int fillMode: Image.PreserveAspectCrop

    readonly property bool none: {
        const c = Theme.str(cover)
        return c === "" || c === "no" || c.endsWith("/no_artwork.png")
    }
    readonly property bool showsPlaceholder: none || picture.status === Image.Error

    radius: Theme.radius - 2
    clip: true
    gradient: Gradient {
        GradientStop { position: 0; color: "#eef1f6" }
        GradientStop { position: 1; color: "#dee3eb" }
    }

    Text {
        objectName: "noArtworkMark"
        anchors.centerIn: parent
        visible: art.showsPlaceholder
        text: "\u266B"
        color: "#8c98aa"
        font.pixelSize: Math.round(Math.min(art.width, art.height) * 0.46)
    }

    Image {
        id: picture
        anchors.fill: parent
        visible: !art.showsPlaceholder
        source: art.none ? "" : Theme.imageUrl(art.cover)
        fillMode: art.fillMode
        sourceSize.width: 320
        asynchronous: true
    }
}
