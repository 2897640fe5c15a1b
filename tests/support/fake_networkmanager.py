'''NetworkManager for the tests: python3-dbusmock's networkmanager template
with the calls it lacks, as NetworkManager answers them.

- Settings.AddConnection2 and Connection.Update2: the settings are kept
  whole (an update replaces them all), and passwords apart from them, as
  secrets: GetSettings never hands a password back, GetSecrets does.
- A switch, Mock.SetFailure(NAME, AFTER): once AFTER more changes (adds,
  updates, deletions, activations) have succeeded, every change fails with
  the error NAME ("org.freedesktop.NetworkManager.PermissionDenied" for a
  caller not authorised); AFTER -1 turns it off.
- Mock.GetProfileCalls(): every call made on the profiles so far, one
  "Method /path" line each, so that a test can count them.

Loaded as a template file: python3 -m dbusmock --system --template PATH.
'''

import dbus
import dbusmock
from dbusmock import MOCK_IFACE
from dbusmock.templates import networkmanager as stock
# dbusmock takes the bus name, the main object and the stock methods of the
# fake from the template module itself.
from dbusmock.templates.networkmanager import *  # noqa: F401,F403 pylint: disable=wildcard-import,unused-wildcard-import

SECRET_KEYS = {'pppoe': ['password'], 'gsm': ['password', 'pin']}

CALLS = []
FAILURE = {'name': '', 'after': -1}
# The stock template calls ListConnections itself: only calls from the bus
# are recorded.
STOCK = {'busy': False}


def record(method, path):
    if not STOCK['busy']:
        CALLS.append(f'{method} {path}')


def stock_call(function, *args):
    STOCK['busy'] = True
    try:
        return function(*args)
    finally:
        STOCK['busy'] = False


def change():
    '''Counts one change, failing it when the switch says so.'''
    if FAILURE['after'] == 0:
        raise dbus.exceptions.DBusException('the change is refused', name=FAILURE['name'])
    if FAILURE['after'] > 0:
        FAILURE['after'] -= 1


def split_secrets(settings):
    '''The settings without their secrets, and the secrets by setting.'''
    kept, secrets = {}, {}
    for name, setting in settings.items():
        kept[name] = dbus.Dictionary({}, signature='sv')
        for key, value in setting.items():
            if key in SECRET_KEYS.get(name, []):
                secrets.setdefault(name, dbus.Dictionary({}, signature='sv'))[key] = value
            else:
                kept[name][key] = value
    return dbus.Dictionary(kept, signature='sa{sv}'), secrets


def get_settings(self):
    record('GetSettings', self.connection_path)
    return self.settings


def get_secrets(self, setting):
    record('GetSecrets', self.connection_path)
    return dbus.Dictionary(
        {setting: self.vz_secrets.get(setting, dbus.Dictionary({}, signature='sv'))},
        signature='sa{sv}')


def update2(self, settings, _flags, _args):
    record('Update2', self.connection_path)
    change()
    self.settings, self.vz_secrets = split_secrets(settings)
    self.EmitSignal(stock.CSETTINGS_IFACE, 'Updated', '', [])
    return dbus.Dictionary({}, signature='sv')


def delete(self):
    record('Delete', self.connection_path)
    change()
    stock_call(self.ConnectionDelete, self)


def add_profile(settings_obj, settings):
    kept, secrets = split_secrets(settings)
    path = stock_call(settings_obj.SettingsAddConnection, kept)
    connection = dbusmock.get_object(path)
    connection.vz_secrets = secrets
    connection.AddMethod(stock.CSETTINGS_IFACE, 'GetSettings', '', 'a{sa{sv}}', get_settings)
    connection.AddMethod(stock.CSETTINGS_IFACE, 'GetSecrets', 's', 'a{sa{sv}}', get_secrets)
    connection.AddMethod(stock.CSETTINGS_IFACE, 'Update2', 'a{sa{sv}}ua{sv}', 'a{sv}', update2)
    connection.AddMethod(stock.CSETTINGS_IFACE, 'Delete', '', '', delete)
    return dbus.ObjectPath(path)


def add_connection(self, settings):
    return add_profile(self, settings)


def add_connection2(self, settings, _flags, _args):
    record('AddConnection2', stock.SETTINGS_OBJ)
    change()
    return (add_profile(self, settings), dbus.Dictionary({}, signature='sv'))


def list_connections(self):
    record('ListConnections', stock.SETTINGS_OBJ)
    return self.Get(stock.SETTINGS_IFACE, 'Connections')


def activate_connection(self, connection, device, specific):
    record('ActivateConnection', connection)
    change()
    return stock_call(self.activate_connection, self, connection, device, specific)


def set_failure(_self, name, after):
    FAILURE['name'], FAILURE['after'] = name, after


def get_profile_calls(_self):
    return dbus.Array(CALLS, signature='s')


def load(mock, parameters):
    # A reset of the fake loads the template again: it starts afresh.
    CALLS.clear()
    set_failure(mock, '', -1)
    stock.load(mock, parameters)
    settings = dbusmock.get_object(stock.SETTINGS_OBJ)
    settings.AddMethod(stock.SETTINGS_IFACE, 'AddConnection2', 'a{sa{sv}}ua{sv}', 'oa{sv}',
                       add_connection2)
    settings.AddMethod(stock.SETTINGS_IFACE, 'AddConnection', 'a{sa{sv}}', 'o', add_connection)
    settings.AddMethod(stock.SETTINGS_IFACE, 'ListConnections', '', 'ao', list_connections)
    manager = dbusmock.get_object(stock.MANAGER_OBJ)
    manager.AddMethod(stock.MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o', activate_connection)
    mock.AddMethod(MOCK_IFACE, 'SetFailure', 'si', '', set_failure)
    mock.AddMethod(MOCK_IFACE, 'GetProfileCalls', '', 'as', get_profile_calls)
