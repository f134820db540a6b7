pragma Singleton
import QtQml

QtObject {
    function connectionConfig() {
        return {
            "enabled": false,
            "type": 0,
            "mode": 1,
            "entries": [],
            "applications": []
        };
    }
}
