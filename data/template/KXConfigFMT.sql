-- Template of a terminal configuration: what can be configured, page by page.
-- The build turns this file into KXConfigFMT.db in the program folder.
--
-- Node tables (nodes_root and every table named in a table_nodes cell) are read
-- by position: 0 the item's text, 1 the node table of its children, 2 the
-- list-parameter table of its page, 3 the caption shown under the tree.
-- "__OPERATION" marks where the operation types of a configuration go; the
-- pages below it are repeated under every operation type.
--
-- List-parameter tables: one row per parameter, in display order. The default
-- walks read default_value at position 3 and param_id at position 5: keep the
-- columns in this order. type is one of "text", "integer", "multiline text",
-- "path", "combobox"; a combobox stores the id of a row of its source_data
-- table (columns id, name), whose row order must not change.

PRAGMA encoding = 'UTF-8';
BEGIN;

-- ------------------------------------------------------------------ the tree

CREATE TABLE nodes_root(name VARCHAR(100), table_nodes VARCHAR(100), table_listparams VARCHAR(100), caption VARCHAR(500));
INSERT INTO nodes_root VALUES('Общие настройки', 'nodes_general', 'listparams_options',
  'Общие параметры терминала: имя, язык, формат даты, автоматический выход и папка данных.');
INSERT INTO nodes_root VALUES('Обмен данными', '', 'listparams_exchange',
  'Связь терминала с компьютером: порт, скорость, время ожидания и действия после выгрузки.');
INSERT INTO nodes_root VALUES('__OPERATION', 'nodes_operation', 'listparams_operation',
  'Тип операции: название, код и операция справочника, под которой терминал записывает сканирования.');
INSERT INTO nodes_root VALUES('Журнал', '', 'listparams_journal',
  'Журнал сканирования: размер, действие при переполнении и формат даты записей.');
INSERT INTO nodes_root VALUES('Безопасность', '', 'listparams_security',
  'Доступ к настройкам терминала: пароль администратора и блокировка меню настроек.');

CREATE TABLE nodes_general(name VARCHAR(100), table_nodes VARCHAR(100), table_listparams VARCHAR(100), caption VARCHAR(500));
INSERT INTO nodes_general VALUES('Сканер', '', 'listparams_scanner',
  'Работа сканера штрихкодов: режим, время сканирования, префикс и суффикс штрихкода.');
INSERT INTO nodes_general VALUES('Звук', '', 'listparams_sound',
  'Звуковые сигналы и вибрация при успешном сканировании и при ошибке.');
INSERT INTO nodes_general VALUES('Экран', '', 'listparams_screen',
  'Экран терминала: размер шрифта, подсветка, контрастность и строка заголовка.');

CREATE TABLE nodes_operation(name VARCHAR(100), table_nodes VARCHAR(100), table_listparams VARCHAR(100), caption VARCHAR(500));
INSERT INTO nodes_operation VALUES('Ввод данных', 'nodes_operation_input', 'listparams_oper_input',
  'Что терминал спрашивает у пользователя перед сканированием товара в этой операции.');
INSERT INTO nodes_operation VALUES('Контроль', '', 'listparams_oper_control',
  'Проверки при сканировании: товар в справочнике, план документа, повторный штрихкод.');
INSERT INTO nodes_operation VALUES('Выгрузка', '', 'listparams_oper_export',
  'Запись результатов операции в файл на терминале.');

CREATE TABLE nodes_operation_input(name VARCHAR(100), table_nodes VARCHAR(100), table_listparams VARCHAR(100), caption VARCHAR(500));
INSERT INTO nodes_operation_input VALUES('Количество', '', 'listparams_oper_quantity',
  'Как вводится количество отсканированного товара.');
INSERT INTO nodes_operation_input VALUES('Дополнительная информация', '', 'listparams_oper_extra',
  'Дополнительное поле записи журнала: строка, дата или число, запрашиваемые после сканирования.');

-- ------------------------------------------------------------ global pages

CREATE TABLE listparams_options(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_options VALUES('Имя терминала', 'text', '', 'Терминал 1',
  'Имя, которое терминал показывает в заголовке главного меню и записывает в журнал.', 'p_terminal_name');
INSERT INTO listparams_options VALUES('Язык интерфейса', 'combobox', 'combosource_language', '1',
  'Язык меню и сообщений терминала.', 'p_language');
INSERT INTO listparams_options VALUES('Выгружать ID записей журнала', 'combobox', 'combosource_yesno', '0',
  'Да: журнал выгружается вместе с номерами записей, и просмотр журнала показывает столбец "id".', 'p_upload_journal_id');
INSERT INTO listparams_options VALUES('Формат даты', 'combobox', 'combosource_date_format', '1',
  'Как терминал показывает дату и время.', 'p_date_format');
INSERT INTO listparams_options VALUES('Автовыход, минут', 'integer', '', '0',
  'Через сколько минут бездействия терминал возвращается в главное меню; 0 - никогда.', 'p_autoexit_minutes');
INSERT INTO listparams_options VALUES('Папка данных', 'path', '', '\Storage Card\KX\',
  'Папка на терминале, где хранятся справочники и журнал.', 'p_data_folder');
INSERT INTO listparams_options VALUES('Текст заставки', 'multiline text', '', 'Добро пожаловать!' || char(13) || char(10) || 'Нажмите ENT для входа',
  'Текст, который терминал показывает при включении. Можно несколько строк.', 'p_welcome_text');

CREATE TABLE listparams_scanner(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_scanner VALUES('Режим сканирования', 'combobox', 'combosource_scan_mode', '1',
  'Одиночное: один штрихкод на нажатие клавиши. Непрерывное: сканер работает, пока клавиша нажата.', 'p_scan_mode');
INSERT INTO listparams_scanner VALUES('Время сканирования, мс', 'integer', '', '3000',
  'Сколько миллисекунд сканер ищет штрихкод после нажатия клавиши.', 'p_scan_timeout');
INSERT INTO listparams_scanner VALUES('Префикс штрихкода', 'text', '', '',
  'Символы, которые сканер добавляет перед штрихкодом; терминал их отбрасывает.', 'p_scan_prefix');
INSERT INTO listparams_scanner VALUES('Суффикс штрихкода', 'text', '', '',
  'Символы, которые сканер добавляет после штрихкода; терминал их отбрасывает.', 'p_scan_suffix');
INSERT INTO listparams_scanner VALUES('Ввод штрихкода с клавиатуры', 'combobox', 'combosource_yesno', '1',
  'Разрешить ввести штрихкод вручную, если этикетка не читается.', 'p_scan_manual_input');

CREATE TABLE listparams_sound(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_sound VALUES('Громкость', 'combobox', 'combosource_volume', '2',
  'Громкость звуковых сигналов терминала.', 'p_sound_volume');
INSERT INTO listparams_sound VALUES('Звук успешного сканирования', 'path', '', '\Windows\ok.wav',
  'Звуковой файл на терминале, который играет после успешного сканирования.', 'p_sound_ok_file');
INSERT INTO listparams_sound VALUES('Звук ошибки', 'path', '', '\Windows\error.wav',
  'Звуковой файл на терминале, который играет при ошибке.', 'p_sound_error_file');
INSERT INTO listparams_sound VALUES('Вибрация при ошибке', 'combobox', 'combosource_yesno', '1',
  'Включать вибрацию вместе со звуком ошибки.', 'p_vibration');

CREATE TABLE listparams_screen(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_screen VALUES('Размер шрифта', 'combobox', 'combosource_font_size', '2',
  'Размер шрифта меню и сообщений.', 'p_font_size');
INSERT INTO listparams_screen VALUES('Отключение подсветки, с', 'integer', '', '30',
  'Через сколько секунд бездействия гаснет подсветка экрана; 0 - не гаснет.', 'p_backlight_timeout');
INSERT INTO listparams_screen VALUES('Контрастность', 'integer', '', '50',
  'Контрастность экрана от 0 до 100.', 'p_contrast');
INSERT INTO listparams_screen VALUES('Строка заголовка', 'text', '', 'KX Склад',
  'Текст в верхней строке экрана.', 'p_header_text');

CREATE TABLE listparams_exchange(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_exchange VALUES('Порт терминала', 'combobox', 'combosource_port', '1',
  'Порт, через который терминал связывается с компьютером.', 'p_exchange_port');
INSERT INTO listparams_exchange VALUES('Скорость, бод', 'combobox', 'combosource_baud_rate', '115200',
  'Скорость последовательного порта; должна совпадать со скоростью на компьютере.', 'p_baud_rate');
INSERT INTO listparams_exchange VALUES('Время ожидания, с', 'integer', '', '180',
  'Сколько секунд терминал ждет ответа компьютера при обмене.', 'p_exchange_timeout');
INSERT INTO listparams_exchange VALUES('Папка обмена', 'path', '', '\Storage Card\KX\Exchange\',
  'Папка на терминале для файлов, принятых при обмене.', 'p_exchange_folder');
INSERT INTO listparams_exchange VALUES('Очищать журнал после выгрузки', 'combobox', 'combosource_yesno', '0',
  'Да: после успешной выгрузки журнала терминал удаляет его записи.', 'p_clear_journal_after_upload');

CREATE TABLE listparams_journal(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_journal VALUES('Наибольшее число записей', 'integer', '', '10000',
  'Сколько записей журнала терминал хранит.', 'p_journal_max');
INSERT INTO listparams_journal VALUES('При переполнении', 'combobox', 'combosource_journal_overflow', '1',
  'Что делать, когда журнал заполнен.', 'p_journal_overflow');
INSERT INTO listparams_journal VALUES('Формат даты записи', 'text', '', 'dd.MM.yyyy HH:mm:ss',
  'Формат поля "Дата/время" записи журнала.', 'p_journal_date_format');

CREATE TABLE listparams_security(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_security VALUES('Пароль администратора', 'text', '', '0000',
  'Пароль для входа в меню "Настройки" терминала.', 'p_admin_password');
INSERT INTO listparams_security VALUES('Блокировать настройки', 'combobox', 'combosource_yesno', '1',
  'Да: меню "Настройки" открывается только после ввода пароля.', 'p_lock_settings');
INSERT INTO listparams_security VALUES('Примечание', 'multiline text', '', '',
  'Заметка для администратора; терминал ее не показывает.', 'p_admin_note');

-- ------------------------------------------------ pages of an operation type

CREATE TABLE listparams_operation(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_operation VALUES('Название', 'text', '', 'Новая операция',
  'Название типа операции в меню "Операции" терминала; должно быть уникальным.', 'oper_type');
INSERT INTO listparams_operation VALUES('Код', 'integer', '', '0',
  'Код типа операции для учетной системы.', 'p_oper_code');
INSERT INTO listparams_operation VALUES('Операция справочника', 'combobox', 'combosource_operations', '0',
  'Операция из справочника операций проекта, под которой записываются сканирования.', 'p_oper_directory_id');
INSERT INTO listparams_operation VALUES('Описание', 'multiline text', '', '',
  'Подсказка, которую терминал показывает при выборе операции.', 'p_oper_description');

CREATE TABLE listparams_oper_input(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_oper_input VALUES('Запрашивать исполнителя', 'combobox', 'combosource_yesno', '1',
  'Спрашивать исполнителя (справочник исполнителей) в начале операции.', 'p_ask_executor');
INSERT INTO listparams_oper_input VALUES('Запрашивать адрес', 'combobox', 'combosource_yesno', '0',
  'Спрашивать адрес хранения (справочник адресов) перед сканированием товара.', 'p_ask_address');
INSERT INTO listparams_oper_input VALUES('Запрашивать документ', 'combobox', 'combosource_document_mode', '1',
  'Как выбирается документ операции.', 'p_ask_document');
INSERT INTO listparams_oper_input VALUES('Подсказка сканирования', 'text', '', 'Сканируйте товар',
  'Строка, которую терминал показывает, ожидая штрихкод.', 'p_scan_hint');

CREATE TABLE listparams_oper_quantity(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_oper_quantity VALUES('Ввод количества', 'combobox', 'combosource_quantity_mode', '1',
  'Каждое сканирование - одна штука, ввод количества вручную или количество из деталей товара.', 'p_quantity_mode');
INSERT INTO listparams_oper_quantity VALUES('Количество по умолчанию', 'integer', '', '1',
  'Количество, которое предлагается при ручном вводе.', 'p_quantity_default');
INSERT INTO listparams_oper_quantity VALUES('Наибольшее количество', 'integer', '', '9999',
  'Количество больше этого терминал переспрашивает.', 'p_quantity_max');

CREATE TABLE listparams_oper_extra(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_oper_extra VALUES('Тип поля', 'combobox', 'combosource_extra_mode', '0',
  'Что запрашивается в дополнительном поле записи.', 'p_extra_mode');
INSERT INTO listparams_oper_extra VALUES('Подсказка', 'text', '', 'Серия:',
  'Подсказка при вводе дополнительного поля.', 'p_extra_prompt');
INSERT INTO listparams_oper_extra VALUES('Длина поля', 'integer', '', '20',
  'Наибольшая длина дополнительного поля в символах.', 'p_extra_length');

CREATE TABLE listparams_oper_control(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_oper_control VALUES('Товар не в справочнике', 'combobox', 'combosource_check', '1',
  'Что делать, если штрихкода нет в справочнике товаров.', 'p_check_ware');
INSERT INTO listparams_oper_control VALUES('Сверка с планом', 'combobox', 'combosource_check', '0',
  'Что делать, если количество превышает план документа.', 'p_check_plan');
INSERT INTO listparams_oper_control VALUES('Повторный штрихкод', 'combobox', 'combosource_check', '0',
  'Что делать при повторном сканировании того же штрихкода.', 'p_check_duplicate');
INSERT INTO listparams_oper_control VALUES('Сообщение об ошибке', 'multiline text', '', 'Товар не найден!' || char(13) || char(10) || 'Обратитесь к старшему смены.',
  'Текст сообщения, если товар не прошел проверку.', 'p_control_message');

CREATE TABLE listparams_oper_export(name VARCHAR(100), type VARCHAR(20), source_data VARCHAR(100), default_value VARCHAR(500), param_help_text VARCHAR(1000), param_id VARCHAR(100));
INSERT INTO listparams_oper_export VALUES('Файл результатов', 'path', '', '\Storage Card\KX\result.txt',
  'Файл на терминале, в который дописываются результаты операции.', 'p_export_file');
INSERT INTO listparams_oper_export VALUES('Разделитель полей', 'text', '', ';',
  'Символ между полями строки файла результатов.', 'p_export_separator');
INSERT INTO listparams_oper_export VALUES('Писать заголовок', 'combobox', 'combosource_yesno', '0',
  'Первая строка файла результатов - названия полей.', 'p_export_header');

-- ------------------------------------------------------------ combo sources

CREATE TABLE combosource_yesno(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_yesno VALUES(0, 'Нет');
INSERT INTO combosource_yesno VALUES(1, 'Да');

CREATE TABLE combosource_language(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_language VALUES(1, 'Русский');
INSERT INTO combosource_language VALUES(2, 'English');

CREATE TABLE combosource_date_format(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_date_format VALUES(1, 'ДД.ММ.ГГГГ');
INSERT INTO combosource_date_format VALUES(2, 'ГГГГ-ММ-ДД');
INSERT INTO combosource_date_format VALUES(3, 'ДД/ММ/ГГ');

CREATE TABLE combosource_scan_mode(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_scan_mode VALUES(1, 'Одиночное');
INSERT INTO combosource_scan_mode VALUES(2, 'Непрерывное');

CREATE TABLE combosource_volume(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_volume VALUES(0, 'Выключен');
INSERT INTO combosource_volume VALUES(1, 'Тихо');
INSERT INTO combosource_volume VALUES(2, 'Средне');
INSERT INTO combosource_volume VALUES(3, 'Громко');

CREATE TABLE combosource_font_size(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_font_size VALUES(1, 'Мелкий');
INSERT INTO combosource_font_size VALUES(2, 'Средний');
INSERT INTO combosource_font_size VALUES(3, 'Крупный');

CREATE TABLE combosource_port(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_port VALUES(1, 'COM1');
INSERT INTO combosource_port VALUES(2, 'COM2');
INSERT INTO combosource_port VALUES(3, 'USB');
INSERT INTO combosource_port VALUES(4, 'Синхронизация с ПК');

CREATE TABLE combosource_baud_rate(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_baud_rate VALUES(9600, '9600');
INSERT INTO combosource_baud_rate VALUES(19200, '19200');
INSERT INTO combosource_baud_rate VALUES(38400, '38400');
INSERT INTO combosource_baud_rate VALUES(57600, '57600');
INSERT INTO combosource_baud_rate VALUES(115200, '115200');

CREATE TABLE combosource_journal_overflow(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_journal_overflow VALUES(1, 'Предупреждать');
INSERT INTO combosource_journal_overflow VALUES(2, 'Перезаписывать старые записи');
INSERT INTO combosource_journal_overflow VALUES(3, 'Запрещать сканирование');

CREATE TABLE combosource_document_mode(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_document_mode VALUES(0, 'Не запрашивать');
INSERT INTO combosource_document_mode VALUES(1, 'Выбор из справочника');
INSERT INTO combosource_document_mode VALUES(2, 'Сканирование штрихкода документа');

CREATE TABLE combosource_quantity_mode(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_quantity_mode VALUES(1, 'Одно сканирование - одна штука');
INSERT INTO combosource_quantity_mode VALUES(2, 'Ввод вручную');
INSERT INTO combosource_quantity_mode VALUES(3, 'Из деталей товара');

CREATE TABLE combosource_extra_mode(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_extra_mode VALUES(0, 'Нет');
INSERT INTO combosource_extra_mode VALUES(1, 'Строка');
INSERT INTO combosource_extra_mode VALUES(2, 'Дата');
INSERT INTO combosource_extra_mode VALUES(3, 'Число');

CREATE TABLE combosource_check(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_check VALUES(0, 'Не проверять');
INSERT INTO combosource_check VALUES(1, 'Предупреждать');
INSERT INTO combosource_check VALUES(2, 'Запрещать');

-- Rebuilt from the project's operations directory whenever the configurator
-- opens; the empty choice (id 0) is always first.
CREATE TABLE combosource_operations(id INTEGER, name VARCHAR(100));
INSERT INTO combosource_operations VALUES(0, '');

COMMIT;
