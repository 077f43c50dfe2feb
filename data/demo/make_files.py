#!/usr/bin/env python3
"""Writes the reference directory files of the demo project into data/demo/files/.

The files are what the terminal expects: Windows-1251 text, one record a line,
fields separated by ';', every line (the last one too) ended by CR LF, no
header line. The data are made up but plausible; a fixed seed keeps the files
identical from run to run.

Usage: data/demo/make_files.py [project-base-name]   (default: demo)
"""
import os
import random
import sys

BASE = sys.argv[1] if len(sys.argv) > 1 else "demo"
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "files")


def ean13(body12: str) -> str:
    """Appends the EAN-13 check digit to twelve digits."""
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(body12))
    return body12 + str((10 - total % 10) % 10)


def write(name: str, rows) -> None:
    lines = []
    for row in rows:
        fields = [str(f) for f in row]
        for f in fields:
            assert ";" not in f and "\r" not in f and "\n" not in f, f
        lines.append(";".join(fields))
    data = "".join(line + "\r\n" for line in lines).encode("cp1251")
    for line in data.split(b"\r\n"):
        assert len(line) <= 1022, "a line longer than one read of the terminal reader"
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


rnd = random.Random(1251)
os.makedirs(OUT, exist_ok=True)

# Operations: ID; operation type ID; name; multiplier; barcode [; extra-info mode].
# Type IDs are those of the demo configuration: 1 Приемка, 2 Отгрузка, 3 Инвентаризация.
write(f"{BASE}_opers.ux3", [
    (1, 1, "Приемка от поставщика", 1, ean13("200000000001")),
    (2, 1, "Приемка возврата от покупателя", 1, ean13("200000000002"), 1),
    (3, 2, "Отгрузка покупателю", 1, ean13("200000000003")),
    (4, 2, "Списание брака", -1, ean13("200000000004"), 1),
    (5, 3, "Инвентаризация склада", 1, ean13("200000000005")),
    (6, 3, "Пересчет ячейки", 1, ean13("200000000006")),
])

# Executors: ID; name; barcode (a trainee without a badge keeps an empty barcode).
executors = ["Иванов Иван Иванович", "Петрова Анна Сергеевна", "Сидоров Петр Алексеевич",
             "Кузнецова Ольга Викторовна", "Смирнов Дмитрий Олегович", "Волкова Елена Павловна",
             "Новиков Артем Игоревич"]
rows = [(i + 1, n, ean13("21%010d" % (i + 1))) for i, n in enumerate(executors)]
rows.append((len(rows) + 1, "Стажер (без бейджа)", ""))
write(f"{BASE}_authors.ux4", rows)

# Addresses: ID; name; barcode.
rows = []
for zone, zname in (("A", "Зона приемки"), ("B", "Основной склад"), ("C", "Холодильная камера")):
    for rack in range(1, 4):
        for shelf in range(1, 3):
            n = len(rows) + 1
            rows.append((n, f"{zname}, стеллаж {zone}-{rack:02d}, полка {shelf}",
                         ean13("22%010d" % n)))
rows.append((len(rows) + 1, "Экспедиция", ean13("22%010d" % (len(rows) + 1))))
write(f"{BASE}_address.ux5", rows)

# Documents: ID; name; comment; barcode.
suppliers = ['ООО "Молочный край"', 'АО "Хлебозавод №3"', "ИП Соколов В.А.",
             'ООО "Фрукты Юга"', 'ЗАО "Бакалея-Опт"']
customers = ['Магазин "У дома"', 'ООО "Продукты 24"', 'Кафе "Березка"']
docs = []
for i, s in enumerate(suppliers):
    docs.append((len(docs) + 1, f"Приходная накладная №{101 + i} от 0{i + 1}.03.2024",
                 f"Поставщик {s}", ean13("23%010d" % (len(docs) + 1))))
for i, c in enumerate(customers):
    docs.append((len(docs) + 1, f"Расходная накладная №{501 + i} от 1{i}.03.2024",
                 f"Покупатель {c}", ean13("23%010d" % (len(docs) + 1))))
docs.append((len(docs) + 1, "Инвентаризационная опись №7", "", ean13("23%010d" % (len(docs) + 1))))
write(f"{BASE}_ndocs.ux6", docs)

# Wares: ware code; name; barcode [; extra-info mode].
groups = [
    ("Молоко", ["2,5% 1 л", "3,2% 1 л", "3,2% 0,5 л", "топленое 4% 0,9 л"]),
    ("Кефир", ["1% 900 г", "2,5% 1 кг", "3,2% 500 г"]),
    ("Сыр", ["Российский 45% 200 г", "Голландский 300 г", "Сулугуни 250 г"]),
    ("Хлеб", ["Бородинский 400 г", "Нарезной 350 г", "ржаной 700 г"]),
    ("Крупа", ["гречневая 900 г", "рисовая 800 г", "овсяная 500 г", "пшено 900 г"]),
    ("Масло", ["сливочное 82,5% 180 г", "подсолнечное 1 л", "оливковое 0,5 л"]),
    ("Сок", ["яблочный 1 л", "томатный 1 л", "апельсиновый 0,2 л"]),
    ("Чай", ["черный 100 пак.", "зеленый 25 пак.", "листовой 200 г"]),
    ("Конфеты", ["шоколадные 250 г", "карамель 1 кг", "ассорти 400 г"]),
    ("Яблоки", ["Гренни Смит, кг", "Голден, кг", "Симиренко, кг"]),
]
makers = ["Агрокомбинат", "Вкусный двор", "Деревенское", "Сибирская марка", "Южный берег",
          "Мираторг", "Простоквашино", "Фермерское"]
wares = []
ware_barcodes = {}
n = 0
while len(wares) < 320:
    g, variants = groups[n % len(groups)]
    v = variants[(n // len(groups)) % len(variants)]
    maker = makers[rnd.randrange(len(makers))]
    n += 1
    code = "Т%05d" % n
    barcode = ean13("460%09d" % rnd.randrange(10 ** 9))
    name = f"{g} {v} \"{maker}\""
    if "кг" in v:  # weighed goods ask for the weight
        wares.append((code, name, barcode, 1))
    else:
        wares.append((code, name, barcode))
    ware_barcodes[code] = barcode
write(f"{BASE}_wares.ux7", wares)

# Ware details: barcode; ware code; quantity in the ware; string parameter.
rows = []
for code, *_ in wares[:120]:
    pack = rnd.choice((6, 10, 12, 20, 24))
    rows.append((ean13("461%09d" % rnd.randrange(10 ** 9)), code, pack, f"Коробка {pack} шт"))
    if rnd.random() < 0.3:
        rows.append((ean13("462%09d" % rnd.randrange(10 ** 9)), code, pack * 8,
                     f"Паллета {pack * 8} шт"))
write(f"{BASE}_waresl2.ux8", rows)

# Document plan: document ID; ware code; planned quantity; line number; hint.
rows = []
for doc_id in range(1, len(docs)):
    picked = rnd.sample(wares, rnd.randrange(4, 12))
    for line_no, (code, name, *_) in enumerate(picked, start=1):
        hint = "Проверить срок годности" if rnd.random() < 0.25 else ""
        rows.append((doc_id, code, rnd.randrange(1, 60), line_no, hint))
write(f"{BASE}_ndocsplan.ux9", rows)

# Info table: free records, one a line.
write("info.txt", [
    ("Организация", 'ООО "Демо-Торг"'),
    ("Склад", "Центральный склад, г. Тверь"),
    ("Смена", "Дневная 08:00-20:00"),
    ("Телефон поддержки", "+7 (4822) 55-01-01"),
])
